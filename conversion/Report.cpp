#include "conversion/Report.hpp"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "conversion/AppDelegate.hpp"
#include "platform/Error.hpp"
#include "platform/FileDescriptor.hpp"
#include "platform/FileWrapper.hpp"

namespace ni {

namespace {

// Keys stay in the order written here, the order the README documents.
using json = nlohmann::ordered_json;

// UTC, to the second: "2024-01-05T15:04:00Z"; null when there is no date.
json isoDate(const std::optional<Date>& date) {
    if (!date) return nullptr;
    const auto seconds = std::chrono::floor<std::chrono::seconds>(*date);
    const auto day = std::chrono::floor<std::chrono::days>(seconds);
    const std::chrono::year_month_day ymd(day);
    const std::chrono::hh_mm_ss time(seconds - day);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02ld:%02ld:%02ldZ", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<long>(time.hours().count()), static_cast<long>(time.minutes().count()),
                  static_cast<long>(time.seconds().count()));
    return text;
}

}  // namespace

std::string conversionReport(const ConversionSummary& summary, const std::optional<std::filesystem::path>& destination,
                             bool dryRun) {
    json sheets = json::array();
    for (const SheetRecord& sheet : summary.sheets) {
        sheets.push_back({{"note", sheet.note},
                          {"package", sheet.package},
                          {"picture", sheet.picture ? json(*sheet.picture) : json(nullptr)},
                          {"tags", sheet.tags},
                          {"created", isoDate(sheet.created)},
                          {"modified", isoDate(sheet.modified)}});
    }
    json notices = json::array();
    for (const Notice& notice : summary.notices) {
        notices.push_back(
            {{"kind", std::string(noticeKindName(notice.kind))}, {"path", notice.path}, {"message", notice.message}});
    }
    const json report = {
        {"version", 1},
        {"source", summary.source.native()},
        {"destination", destination ? json(destination->native()) : json(nullptr)},
        {"dryRun", dryRun},
        {"dateLocale", summary.dateLocale},
        {"counts",
         {{"notes", summary.notes},
          {"pictures", summary.pictures},
          {"subFolders", summary.subFolders},
          {"skippedLinks", summary.skippedLinks},
          {"notices", summary.notices.size()}}},
        {"sheets", std::move(sheets)},
        {"notices", std::move(notices)},
    };
    // File names needn't be UTF-8: such bytes come out as U+FFFD instead of failing the report.
    return report.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

bool isInsideFolder(const std::filesystem::path& url, const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path item = fs::weakly_canonical(fs::absolute(url, ec), ec);
    if (ec) return false;
    const fs::path container = fs::weakly_canonical(fs::absolute(folder, ec), ec);
    if (ec || container.empty()) return false;
    const auto [end, _] = std::mismatch(container.begin(), container.end(), item.begin(), item.end());
    return end == container.end();
}

bool writeReportToURL(const std::string& text, const std::filesystem::path& url, Error* error) {
    // A report of an earlier run is replaced, as a shell's ">" would.
    FileDescriptor file(::open(url.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (file.get() < 0) return setError(error, Error(ErrorKind::WriteFailed, url, errno));
    int failure = writeAllBytes(file.get(), text.data(), text.size());
    if (const int closed = file.close(); failure == 0) failure = closed;
    if (failure != 0) return setError(error, Error(ErrorKind::WriteFailed, url, failure));
    return true;
}

}  // namespace ni
