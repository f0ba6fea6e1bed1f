// The tcllib workload the benchmarks of instrumented code share: the modules loaded, and one round of
// calls into them (hashing, encoding, parsing, list and set work, statistics, text).
#pragma once

#include <QDir>
#include <QString>
#include <QStringList>

const char* const tcllibSetup =
    "package require md5; package require sha1; package require json; package require base64;"
    "package require struct::list; package require struct::set; package require textutil;"
    "package require math::statistics; package require csv";

const char* const tcllibWork =
    "set text [string repeat {The quick brown fox jumps over the lazy dog. } 40]\n"
    "set r [list [md5::md5 -hex $text] [sha1::sha1 -hex $text] [base64::encode $text]]\n"
    "lappend r [json::json2dict {{\"a\": [1, 2, 3], \"b\": {\"c\": \"d\", \"e\": [true, null]}}}]\n"
    "lappend r [struct::list reverse [struct::list iota 200]]\n"
    "lappend r [lsort [struct::set union {a b c} {c d e}]]\n"
    "lappend r [math::statistics::mean [struct::list iota 500]]\n"
    "lappend r [textutil::adjust $text -length 30]\n"
    "lappend r [csv::split {a,\"b,c\",d,\"e \"\"f\"\"\"}]\n"
    "string length $r\n";

inline bool tcllibInstalled()
{
    return !QDir(QStringLiteral("/usr/share/tcltk")).entryList({QStringLiteral("tcllib*")}, QDir::Dirs).isEmpty();
}
