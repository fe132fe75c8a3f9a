#ifndef TIDEWALL_FOUNDATION_TS_MNT_PARSER_H
#define TIDEWALL_FOUNDATION_TS_MNT_PARSER_H

#include <tidewall/ts_mnt_info.h>

#include <list>
#include <string>

// Reads a mount table file in fstab(5) form: blank-separated fields, '#'
// comments, octal escapes (\040 for a blank) in the first four fields.
namespace tidewall::mount_table {

// A field as fstab(5) needs it: blanks, tabs, newlines and backslashes inside a
// value would split or join fields, so they go as octal escapes. Ordinary
// values are written as they are.
std::string escape_field(const std::string& value);
// Undoes the octal escapes the kernel and getmntent use (\040 blank, \011 tab,
// \012 newline, \134 backslash); anything else stays as written.
std::string unescape_field(const std::string& field);

}  // namespace tidewall::mount_table

class TsMntParser {
public:
    explicit TsMntParser(std::string path);

    // 0 and one entry per table line (appended); non-zero when the file cannot be read.
    int ParseMountPointInfo(std::list<TsMntInfo>& entries);

    // The same rules on text already in memory.
    static void ParseText(const std::string& text, std::list<TsMntInfo>& entries);

private:
    std::string path_;
};

#endif
