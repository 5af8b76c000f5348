// file_names: a file's name as the bytes the system gave, written into text that
// must be UTF-8 (JSON, the SVG picture).
//
// A name that is valid UTF-8 is written as it is. One that is not (Linux
// names are bytes: `inv\xff.bin`) is written in JSON as two members: "file"
// holds it with each byte that is not part of valid UTF-8 replaced by U+FFFD
// (for people), and "file_bytes" holds the exact bytes percent-encoded (every
// byte outside printable ASCII, and '%' itself, as %HH; for programs, and
// read back by `merge`). In XML every such byte, and every control byte XML
// 1.0 forbids, becomes U+FFFD. Plain functions of their arguments; they throw
// nothing but std::bad_alloc.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace lumbra {

// Whether `s` is valid UTF-8 (no overlong forms, surrogates or code points
// above U+10FFFF).
bool validUtf8(std::string_view s);

// `s` with each byte that is not part of valid UTF-8 replaced by U+FFFD.
std::string replacedUtf8(std::string_view s);

// `s` percent-encoded: bytes 0x21..0x7E other than '%' stay, others %HH.
std::string percentEncoded(std::string_view s);
// The bytes of percentEncoded() text; false when `text` is no such text.
bool percentDecoded(std::string_view text, std::string& bytes);

// Sets j["file"] (and j["file_bytes"] for a name that is not UTF-8).
void putFileName(nlohmann::ordered_json& j, const std::string& name);
// The same members as JSON text, without braces: "file":"..."[,"file_bytes":"..."].
std::string fileNameMembers(const std::string& name);

// `s` as XML character data: &, <, >, " escaped; bytes not part of valid
// UTF-8 and control bytes other than tab and line feed as U+FFFD.
std::string xmlText(std::string_view s);

}  // namespace lumbra
