#include "conversion/Report.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool writeReportToURL(const std::string& text, const std::filesystem::path& url, Error* error) {
    // Written beside its place and renamed over it, so that a report is whole
    // or not there and a failed write leaves an earlier one as it was. A link
    // is written through to where it leads, as a shell's ">" would.
    const std::filesystem::path location = resolvedLocation(url).value_or(url);
    std::string temporary =
        (location.parent_path() / ("." + location.filename().native() + ".XXXXXX")).native();
    FileDescriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (file.get() < 0) return setError(error, Error(ErrorKind::WriteFailed, url, errno));
    const mode_t mask = ::umask(0);
    ::umask(mask);
    int failure = ::fchmod(file.get(), 0666 & ~mask) != 0 ? errno : 0;
    if (failure == 0) failure = writeAllBytes(file.get(), text.data(), text.size());
    if (const int closed = file.close(); failure == 0) failure = closed;
    if (failure == 0 && ::rename(temporary.c_str(), location.c_str()) != 0) failure = errno;
    if (failure == 0) return true;
    ::unlink(temporary.c_str());
    return setError(error, Error(ErrorKind::WriteFailed, url, failure));
}

}  // namespace ni
