#include <cerrno>

#include "TestSupport.hpp"
#include "platform/Error.hpp"

namespace ni {
namespace {

TEST(Error, MessagesNameTheFileAndTheCause) {
    EXPECT_FALSE(Error());
    EXPECT_EQ(
        Error(ErrorKind::InvalidUTF8, "Notes/Groceries.txt", 0, "1234").message(),
        "The file “Notes/Groceries.txt” couldn’t be read because it isn’t valid UTF-8 text (byte 1234).");
    EXPECT_EQ(Error(ErrorKind::ReadFailed, "/x/a.txt", EACCES).message(),
              "The file “/x/a.txt” couldn’t be read: Permission denied.");
    EXPECT_EQ(Error(ErrorKind::NotRegularFile, "pipe.txt").message(),
              "The file “pipe.txt” couldn’t be read because it isn’t a regular file.");
    EXPECT_EQ(Error(ErrorKind::TemplateMissing, "Sheet Template.inkvale", 0, "“/a”, “/b”").message(),
              "The sheet template “Sheet Template.inkvale” couldn’t be found (looked in “/a”, “/b”).");
    // Every kind has its own sentence naming the path.
    for (int kind = static_cast<int>(ErrorKind::FileNotFound);
         kind <= static_cast<int>(ErrorKind::RemoveFailed); ++kind) {
        const std::string message = Error(static_cast<ErrorKind>(kind), "/some/where").message();
        EXPECT_NE(message.find("“/some/where”"), std::string::npos) << message;
    }
    // Paths that aren't UTF-8 are shown with escaped bytes.
    EXPECT_EQ(displayPath("/a/caf\xE9/\xC3\xA9\xFF.txt"), "/a/caf\\xE9/é\\xFF.txt");
    EXPECT_EQ(displayPath("\xED\xA0\x80"), "\\xED\\xA0\\x80");  // an encoded surrogate isn't UTF-8
    Error slot(ErrorKind::ReadFailed, "old");
    EXPECT_FALSE(setError(nullptr, Error(ErrorKind::WriteFailed, "x")));
    EXPECT_FALSE(setError(&slot, Error(ErrorKind::WriteFailed, "x")));
    EXPECT_EQ(slot.kind(), ErrorKind::WriteFailed);
}

}  // namespace
}  // namespace ni
