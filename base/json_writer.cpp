#include "base/json_writer.h"

#include "text/multibyte.h"

namespace {

// Bytes of UTF-8 encoded per call of the library: small enough to cost no memory worth
// counting, large enough that a long name takes few calls.
constexpr std::size_t kTextPiece = 4096;

void put(std::FILE* out, std::string_view s) {
    std::fwrite(s.data(), 1, s.size(), out);
}

// Appends the UTF-8 form of the sequence or byte at `p` to `out`; returns the bytes used.
std::size_t append_utf8(const unsigned char* p, std::size_t left, std::string& out) {
    const std::size_t len = utf8_sequence_length(p, left);
    if (len > 0) {
        out.append(reinterpret_cast<const char*>(p), len);
        return len;
    }
    out += static_cast<char>(0xC0 | (p[0] >> 6));
    out += static_cast<char>(0x80 | (p[0] & 0x3F));
    return 1;
}

} // namespace

std::string json_text(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t i = 0; i < bytes.size();)
        i += append_utf8(p + i, bytes.size() - i, out);
    return out;
}

void JsonWriter::item(const char* key) {
    if (depth_ > 0) {
        put(out_, empty_ ? "\n" : ",\n");
        for (unsigned i = 0; i < depth_; ++i)
            put(out_, "  ");
    }
    empty_ = false;
    if (key != nullptr) {
        put(out_, nlohmann::ordered_json(key).dump());
        put(out_, ": ");
    }
}

void JsonWriter::close(char bracket) {
    --depth_;
    if (!empty_) {
        std::fputc('\n', out_);
        for (unsigned i = 0; i < depth_; ++i)
            put(out_, "  ");
    }
    std::fputc(bracket, out_);
    empty_ = false;
}

void JsonWriter::open(const char* key, char bracket) {
    item(key);
    std::fputc(bracket, out_);
    ++depth_;
    empty_ = true;
}

void JsonWriter::begin_object(const char* key) {
    open(key, '{');
}

void JsonWriter::end_object() {
    close('}');
}

void JsonWriter::begin_array(const char* key) {
    open(key, '[');
}

void JsonWriter::end_array() {
    close(']');
}

void JsonWriter::value(const char* key, const nlohmann::ordered_json& v) {
    item(key);
    // The library lays an object or an array out from column 0; its inner lines move to
    // this depth, so that a small value written whole reads as the rest of the document.
    const std::string text = v.dump(2);
    std::size_t from = 0;
    for (std::size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1) {
        put(out_, std::string_view(text).substr(from, nl + 1 - from));
        for (unsigned i = 0; i < depth_; ++i)
            put(out_, "  ");
    }
    put(out_, std::string_view(text).substr(from));
}

void JsonWriter::text(const char* key, std::string_view bytes) {
    item(key);
    std::fputc('"', out_);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::string piece;
    for (std::size_t i = 0; i < bytes.size();) {
        piece.clear();
        while (i < bytes.size() && piece.size() < kTextPiece)
            i += append_utf8(p + i, bytes.size() - i, piece);
        // The library's string without its quotes: escaping is per character, so pieces
        // cut between characters join into the escaping of the whole.
        const std::string encoded = nlohmann::ordered_json(piece).dump();
        put(out_, std::string_view(encoded).substr(1, encoded.size() - 2));
    }
    std::fputc('"', out_);
}

void JsonWriter::finish() {
    std::fputc('\n', out_);
}
