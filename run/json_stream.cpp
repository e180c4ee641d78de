#include "run/json_stream.h"

#include <string>

void JsonStream::indent(unsigned depth) {
    for (unsigned k = 0; k < depth; ++k)
        std::fputs("  ", out_);
}

void JsonStream::next_child(const char* key) {
    if (depth_ == 0)
        return;
    std::fputs(has_children_[depth_ - 1] ? ",\n" : "\n", out_);
    has_children_[depth_ - 1] = true;
    indent(depth_);
    if (key != nullptr)
        std::fprintf(out_, "%s: ", Json(key).dump().c_str());
}

void JsonStream::begin(const char* key, char bracket) {
    next_child(key);
    std::fputc(bracket, out_);
    closing_[depth_] = bracket == '{' ? '}' : ']';
    has_children_[depth_] = false;
    ++depth_;
}

void JsonStream::end() {
    --depth_;
    if (has_children_[depth_]) {
        std::fputc('\n', out_);
        indent(depth_);
    }
    std::fputc(closing_[depth_], out_);
}

void JsonStream::value(const char* key, const Json& v) {
    next_child(key);
    // The library lays the value out from column 0; its inner lines move to this depth.
    const std::string text = v.dump(2);
    std::size_t from = 0;
    for (std::size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1) {
        std::fwrite(text.data() + from, 1, nl + 1 - from, out_);
        indent(depth_);
    }
    std::fwrite(text.data() + from, 1, text.size() - from, out_);
}
