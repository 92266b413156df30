// The I/O floor of a conversion: the files a conversion has to write, and no
// more work than that.
//
//   bench_io_floor EXPORT_FOLDER OUTPUT_FOLDER
//
// Walks the export as the converter does (top level and one level of
// sub-folders, .txt and .md notes), and for every note makes the package
// folder, writes the note's bytes as both Text.txt and Content.xml and copies
// the note's picture into Media/. No text is decoded and no XML is made: the
// picture name is the only thing looked up, with one search for its key. The
// packages are written in a fresh folder under $TMPDIR (else /tmp) and the
// result is renamed to OUTPUT_FOLDER/"Notara Export", like the converter's
// move. Prints the number of packages written.

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::size_t packages = 0;

[[noreturn]] void fail(const fs::path& path, const std::string& what) {
    std::fprintf(stderr, "bench_io_floor: %s: %s\n", path.c_str(), what.c_str());
    std::exit(1);
}

void check(const std::error_code& ec, const fs::path& path) {
    if (ec) fail(path, ec.message());
}

bool isNote(const fs::directory_entry& entry) {
    const std::string ext = entry.path().extension().string();
    const std::string name = entry.path().filename().string();
    return !name.starts_with(".") && entry.is_regular_file() &&
           (strcasecmp(ext.c_str(), ".txt") == 0 || strcasecmp(ext.c_str(), ".md") == 0);
}

std::string readFile(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail(path, "cannot open");
    std::string bytes;
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    if (n < 0) fail(path, "cannot read");
    return bytes;
}

void writeFile(const fs::path& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
        ::close(fd) != 0)
        fail(path, "cannot write");
}

// The value of the last "Picture: " line, without a CR at its end.
std::string pictureName(std::string_view text) {
    const std::size_t at = text.rfind("\nPicture: ");
    if (at == std::string_view::npos) return {};
    const std::size_t begin = at + 10;
    std::size_t end = text.find('\n', begin);
    if (end == std::string_view::npos) end = text.size();
    if (end > begin && text[end - 1] == '\r') --end;
    return std::string(text.substr(begin, end - begin));
}

void writePackage(const fs::path& note, const fs::path& folder) {
    std::error_code ec;
    const std::string text = readFile(note);
    const fs::path package = folder / note.stem().concat(".inkvale");
    fs::create_directory(package, ec);
    check(ec, package);
    writeFile(package / "Content.xml", text);
    writeFile(package / "Text.txt", text);
    const std::string picture = pictureName(text);
    const fs::path source = note.parent_path() / "Pictures" / picture;
    if (!picture.empty() && fs::is_regular_file(fs::symlink_status(source, ec))) {
        fs::create_directory(package / "Media", ec);
        check(ec, package / "Media");
        fs::copy_file(source, package / "Media" / picture, ec);
        check(ec, source);
    }
    ++packages;
}

void convertFolder(const fs::path& source, const fs::path& target, bool topLevel) {
    std::error_code ec;
    fs::create_directory(target, ec);
    check(ec, target);
    for (const fs::directory_entry& entry : fs::directory_iterator(source, ec)) {
        if (topLevel && entry.is_directory() && !entry.is_symlink() &&
            !entry.path().filename().string().starts_with("."))
            convertFolder(entry.path(), target / entry.path().filename(), false);
        else if (isNote(entry))
            writePackage(entry.path(), target);
    }
    check(ec, source);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_io_floor EXPORT_FOLDER OUTPUT_FOLDER\n");
        return 2;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string scratch =
        std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/bench_io_floor.XXXXXX";
    if (::mkdtemp(scratch.data()) == nullptr) fail(scratch, "cannot make a temporary folder");

    const fs::path written = fs::path(scratch) / "Notara Export";
    convertFolder(argv[1], written, true);

    std::error_code ec;
    const fs::path destination = fs::path(argv[2]) / "Notara Export";
    if (fs::exists(fs::symlink_status(destination, ec))) fail(destination, "exists");
    fs::rename(written, destination, ec);
    check(ec, destination);
    fs::remove(scratch, ec);
    std::printf("%zu packages\n", packages);
    return 0;
}
