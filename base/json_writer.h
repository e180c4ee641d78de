// JSON written as it is produced, for descriptions of any size in flat memory: the code
// writes the brackets, commas and indentation, and the JSON library encodes each value.
// The text is laid out as the library's own dump with an indent of 2 would lay it out.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <string_view>

// `bytes` as UTF-8 for a JSON string: each well-formed UTF-8 sequence as it is, each
// other byte as the character of its Latin-1 code point (0xE9 as U+00E9). Control
// characters stay; the JSON writer escapes them.
std::string json_text(std::string_view bytes);

class JsonWriter {
  public:
    // Writes to `out`; errors stay on the stream for its owner to check.
    explicit JsonWriter(std::FILE* out) : out_(out) {}

    // An object or an array, as the whole document, an array's element (key null) or an
    // object's member.
    void begin_object(const char* key = nullptr);
    void end_object();
    void begin_array(const char* key = nullptr);
    void end_array();

    // One member (or with a null key one element) whose value the library encodes; an
    // object or an array laid out at this depth as the rest.
    void value(const char* key, const nlohmann::ordered_json& v);
    // One string member made of any bytes, as json_text reads them, encoded a piece at a
    // time so that a long name costs no memory of its length.
    void text(const char* key, std::string_view bytes);

    // Ends the document with a newline.
    void finish();

  private:
    void item(const char* key);
    void open(const char* key, char bracket);
    void close(char bracket);

    std::FILE* out_;
    unsigned depth_ = 0;
    bool empty_ = true; // nothing yet in the innermost object or array
};
