// Entry names flagged as UTF-8 and the names they must become in code page 1252, invalid
// UTF-8 included. One table for both builds: the host unit tests convert each name directly,
// and the Windows end-to-end test extracts an archive of them with the stub. Each name stands
// alone as a file name in the target folder, and no two become the same.
#pragma once

namespace name_cases {

struct Utf8NameCase {
  const char* what;
  const char* utf8;  // as recorded in the archive
  const char* ansi;  // as written, in code page 1252
};

const Utf8NameCase kUtf8NameCases[] = {
    {"plain ASCII", "plain.txt", "plain.txt"},
    {"two-byte characters of 1252", "\xC3\xA9t\xC3\xA9.txt", "\xE9t\xE9.txt"},
    {"the euro sign, a three-byte one of 1252", "\xE2\x82\xAC.txt", "\x80.txt"},
    {"a quotation mark of 1252", "\xE2\x80\x9Cq.txt", "\x93q.txt"},
    {"a character 1252 lacks", "\xD0\x96.txt", "_.txt"},
    {"a character beyond U+FFFF", "\xF0\x9F\x98\x80m.txt", "_m.txt"},
    {"an overlong slash",
     "a\xC0\xAF"
     "b.txt",
     "a__b.txt"},
    {"an overlong slash in three bytes",
     "a\xE0\x80\xAF"
     "b.txt",
     "a___b.txt"},
    {"an overlong backslash",
     "c\xC1\x9C"
     "d.txt",
     "c__d.txt"},
    {"an overlong dot",
     "\xC0\xAE\xC0\xAE"
     "c.txt",
     "____c.txt"},
    {"an overlong four-byte form",
     "\xF0\x80\x80\xAF"
     "d.txt",
     "____d.txt"},
    {"a surrogate",
     "\xED\xA0\x80"
     "e.txt",
     "___e.txt"},
    {"a value past U+10FFFF",
     "\xF4\x90\x80\x80"
     "f.txt",
     "____f.txt"},
    {"a lead byte no sequence has", "\xF5\x80g.txt", "__g.txt"},
    {"a sequence cut by the next character", "\xE2\x82h.txt", "_h.txt"},
    {"a four-byte sequence cut", "\xF0\x9F\x98i.txt", "_i.txt"},
    {"a sequence cut by the end", "j.txt\xE2\x82", "j.txt_"},
    {"a lone continuation byte", "\x80k.txt", "_k.txt"},
    {"a byte never in UTF-8", "\xFFl.txt", "_l.txt"},
};

}  // namespace name_cases
