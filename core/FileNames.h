#pragma once

// Names of recovered files: made safe for the destination, representable in the
// charset the user chose, shortened and made unique. Also the charset conversion
// the rest of the program shares, the carver's charset settings, and the decoder
// of backslash escapes in the content-signature table.
//
// Names are UTF-8 throughout.

#include "core/Types.h"

#include <cstddef>
#include <functional>
#include <string>

// The charset recovered names must be representable in. Linux names are UTF-8,
// which is the default; the preferences may choose a code page of the
// destination file system instead.
void setFileNameCharset(const std::string& name);
const std::string& fileNameCharset();

// Makes the name safe on any destination: control characters and
// "*/:<>?\| become '_', a reserved device name (CON, LPT1, ..., with or
// without an extension: "aux.txt", "nul.tar.gz") loses its last character
// before the extension to '_', else a trailing blank or dot is '_', and an
// empty name becomes "_".
void sanitizeFileName(std::string& name);

// The name as destinations that ignore case compare it: two names of one folder
// are one name there when their folded forms are equal. ASCII letters fold by
// themselves; other characters by Unicode, and bytes that are not UTF-8 as the
// U+FFFD that toFileNameCharset writes for them.
std::string caseFoldedName(const std::string& name);

// The name as a destination that refused it takes it: printable ASCII alone
// (0x20 to 0x7E), every other character one '_' (the controls and DEL too),
// then sanitized.
std::string asciiFileName(const std::string& name);

// The name taken through fileNameCharset and back: characters the charset lacks
// come back as "\uXXXX" escapes; bytes that are not UTF-8 as U+FFFD.
std::string toFileNameCharset(const std::string& name);

// `length` bytes of text from one charset to another; characters the target lacks
// become `fallback`, or "\uXXXX" escapes when it is null. When the text holds an
// invalid sequence only the part before it is converted; when nothing converts,
// or a charset is unknown, the result is empty.
std::string convertCharset(const char* text, std::size_t length, const char* to, const char* from,
                           const char* fallback = nullptr);
std::string convertToUtf8(const char* text, std::size_t length, const char* from);
// Whether the system knows how to convert between the two charsets.
bool canConvert(const char* from, const char* to);

// Keeps the tail of a name (or a path) longer than maxBytes bytes or
// maxUtf16Units UTF-16 units behind a "~", within both in all, starting at a
// whole character. A character outside the Basic Multilingual Plane counts two
// units (a surrogate pair), any other one.
void truncateHead(std::string& name, std::size_t maxBytes, std::size_t maxUtf16Units);
// The same, in bytes alone.
void truncateHeadToBytes(std::string& name, std::size_t maxBytes);

// dir + name when isUsable says so, else the first of "base-1.ext" to
// "base-<maxTries>.ext" that is usable (dir carries its own trailing separator).
// False, with the name unchanged, when none is.
bool makeUniqueFileName(const std::string& dir, std::string& name,
                        const std::function<bool(const std::string&)>& isUsable, unsigned maxTries);

// The bytes that C escapes (\101, \x41, \n, \\ ...) stand for, up to the first NUL.
// Throws std::runtime_error on an escape that is malformed or out of range.
std::string decodeCString(const std::string& text);

// The code pages the content carver reads texts in.
class CbrCharsets {
public:
    static CbrCharsets& instance();

    // File names inside ARJ archives.
    std::string& arjName() { return arjName_; }
    // MP3 ID3 version 1 and version 2 texts.
    std::string& id3v1() { return id3v1_; }
    std::string& id3v2() { return id3v2_; }
    void setArjName(const std::string& name) { arjName_ = name; }
    void setId3v1(const std::string& name) { id3v1_ = name; }
    void setId3v2(const std::string& name) { id3v2_ = name; }

private:
    CbrCharsets() = default;

    std::string arjName_ = "CP850";
    std::string id3v1_ = "CP850";
    std::string id3v2_ = "ISO8859-1";
};
