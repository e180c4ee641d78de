#include "image/image_format.h"

#include "base/numbers.h"
#include "image/efw_sink.h"
#include "image/intel_hex_sink.h"
#include "image/srecord_sink.h"

const char* format_name(ImageFormat format) {
    switch (format) {
    case ImageFormat::IntelHex:
        return "ihex";
    case ImageFormat::SRecord:
        return "srec";
    case ImageFormat::Efw:
        break;
    }
    return "efw";
}

const char* format_extension(ImageFormat format) {
    switch (format) {
    case ImageFormat::IntelHex:
        return ".hex";
    case ImageFormat::SRecord:
        return ".srec";
    case ImageFormat::Efw:
        break;
    }
    return ".efw";
}

bool parse_image_format(std::string_view name, ImageFormat& format) {
    for (ImageFormat f : {ImageFormat::Efw, ImageFormat::IntelHex, ImageFormat::SRecord}) {
        if (name == format_name(f)) {
            format = f;
            return true;
        }
    }
    return false;
}

bool parse_address(std::string_view text, std::uint32_t& address) {
    std::uint64_t value = 0;
    if (!parse_number(text, 0xFFFFFFFF, value))
        return false;
    address = static_cast<std::uint32_t>(value);
    return true;
}

bool parse_srec_address(std::string_view text, SRecordAddress& width) {
    const struct {
        const char* name;
        SRecordAddress width;
    } names[] = {{"auto", SRecordAddress::Auto},
                 {"16", SRecordAddress::Bits16},
                 {"24", SRecordAddress::Bits24},
                 {"32", SRecordAddress::Bits32}};
    for (const auto& n : names) {
        if (text == n.name) {
            width = n.width;
            return true;
        }
    }
    return false;
}

bool parse_line_end(std::string_view text, LineEnd& line_end) {
    if (text != "crlf" && text != "lf")
        return false;
    line_end = text == "lf" ? LineEnd::Lf : LineEnd::CrLf;
    return true;
}

std::unique_ptr<ImageSink> make_image_sink(ImageFormat format, const TextOptions& text,
                                           std::FILE* fp, const std::string& path,
                                           const std::string& srec_header) {
    switch (format) {
    case ImageFormat::IntelHex:
        return std::make_unique<IntelHexSink>(fp, path, text);
    case ImageFormat::SRecord:
        return std::make_unique<SRecordSink>(fp, path, text, srec_header);
    case ImageFormat::Efw:
        break;
    }
    return std::make_unique<StreamSink>(fp, path);
}
