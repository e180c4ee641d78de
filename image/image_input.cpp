#include "image/image_input.h"

#include "base/failure.h"
#include "image/rom_image.h"
#include "image/text_image_reader.h"
#include "platform/files.h"

#include <cerrno>

namespace {

unsigned char g_CopyBuf[1 << 16];

[[noreturn]] void fail_scratch(const std::string& path, const std::string& what) {
    fail(path, what + ": " + platform::last_error_text(), FailureKind::Trouble);
}

std::FILE* scratch_file(const std::string& path) {
    std::FILE* fp = platform::create_scratch_file();
    if (fp == nullptr)
        fail(path, "cannot create a scratch file to hold it: " + platform::error_text(errno),
             FailureKind::Trouble);
    return fp;
}

// Standard input as it is when it is a regular file, else copied into a scratch file.
InputFile open_standard_input() {
    InputFile in;
    in.path = "standard input";
    platform::FileStatus status;
    if (platform::file_status(stdin, status) && status.regular) {
        in.fp = platform::reopen_standard_input();
        if (in.fp == nullptr)
            fail(in.path, "cannot read: " + platform::error_text(errno), FailureKind::Trouble);
        in.size = status.size;
        return in;
    }
    in.fp = scratch_file(in.path);
    platform::use_binary_mode(stdin);
    std::size_t n = 0;
    while ((n = std::fread(g_CopyBuf, 1, sizeof g_CopyBuf, stdin)) > 0) {
        if (std::fwrite(g_CopyBuf, 1, n, in.fp) != n)
            fail_scratch(in.path, "cannot keep it in a scratch file");
        in.size += n;
    }
    if (std::ferror(stdin) != 0)
        fail(in.path, "cannot read at offset " + hex(in.size) + ": " + platform::error_text(errno),
             FailureKind::Trouble);
    if (std::fflush(in.fp) != 0)
        fail_scratch(in.path, "cannot keep it in a scratch file");
    return in;
}

void rewind_image(InputFile& in) {
    if (!platform::seek_absolute(in.fp, 0))
        fail(in.path, "cannot read it from its start: " + platform::error_text(errno),
             FailureKind::Trouble);
    in.pos = 0;
}

} // namespace

InputFile open_image(const std::string& path, std::uint32_t base) {
    InputFile in = path == kStandardInputName ? open_standard_input() : open_input(path);
    unsigned char head[2] = {0, 0};
    const std::size_t n = in.size < sizeof head ? static_cast<std::size_t>(in.size) : sizeof head;
    rewind_image(in);
    read_input(in, head, n, "the image's first bytes");
    const ImageFormat format = detect_image_format(head, n);
    rewind_image(in);
    if (format != ImageFormat::Efw) {
        InputFile image;
        image.path = in.path;
        image.fp = scratch_file(in.path);
        image.size = read_text_image(in.fp, format, in.path, base, image.fp);
        rewind_image(image);
        return image;
    }
    if (in.size > kFormatMaxSize) {
        fail(in.path, "larger than an image can be (" + hex(in.size) + " bytes, " +
                          hex(kFormatMaxSize) + " at most)");
    }
    return in;
}
