// JSON written as it comes: the library encodes each value, this writes only the
// brackets, keys and commas around them, laid out as the library's own two-space
// indentation would, so that a description costs the memory of its largest element, not
// of the whole document.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdio>

// Keys in the order the documentation lists them.
using Json = nlohmann::ordered_json;

class JsonStream {
  public:
    explicit JsonStream(std::FILE* out) : out_(out) {}

    // Opens an object or an array: at the top, as an array's element, or as the member
    // `key` of an object.
    void begin_object(const char* key = nullptr) { begin(key, '{'); }
    void begin_array(const char* key = nullptr) { begin(key, '['); }
    // Closes what was opened last.
    void end_object() { end(); }
    void end_array() { end(); }

    // One member of the open object, or with a null key one element of the open array.
    void value(const char* key, const Json& v);

    // Ends the document with a newline.
    void finish() { std::fputc('\n', out_); }

  private:
    void end();
    void begin(const char* key, char bracket);
    void next_child(const char* key);
    void indent(unsigned depth);

    static constexpr unsigned kMaxDepth = 8;
    std::FILE* out_;
    unsigned depth_ = 0;
    char closing_[kMaxDepth] = {};
    bool has_children_[kMaxDepth] = {};
};
