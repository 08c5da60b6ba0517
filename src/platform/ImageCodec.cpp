#include "platform/ImageCodec.h"

#include <dlfcn.h>
#include <turbojpeg.h>

#include <climits>
#include <cstring>
#include <memory>

#include "stb_image.h"
#include "stb_image_write.h"

namespace vandora {

namespace {

constexpr int kRgb = 3;

// The picture libraries are opened when the first picture is handled, not at start: most
// terminals have no imager, and an idle service should not carry them.
struct Imaging {
    decltype(&::tjInitDecompress) initDecompress = nullptr;
    decltype(&::tjDecompressHeader3) decompressHeader3 = nullptr;
    decltype(&::tjDecompress2) decompress2 = nullptr;
    decltype(&::tjInitCompress) initCompress = nullptr;
    decltype(&::tjCompress2) compress2 = nullptr;
    decltype(&::tjInitTransform) initTransform = nullptr;
    decltype(&::tjTransform) transform = nullptr;
    decltype(&::tjDestroy) destroy = nullptr;
    decltype(&::tjFree) free = nullptr;
    decltype(&::stbi_info_from_memory) infoFromMemory = nullptr;
    decltype(&::stbi_load_from_memory) loadFromMemory = nullptr;
    decltype(&::stbi_image_free) imageFree = nullptr;
    decltype(&::stbi_write_bmp_to_func) writeBmpToFunc = nullptr;
    bool ok = false;

    Imaging() {
        // Kept loaded for the life of the process.
        void* jpeg = dlopen("libturbojpeg.so.0", RTLD_NOW | RTLD_LOCAL);
        void* stb = dlopen("libstb.so.0", RTLD_NOW | RTLD_LOCAL);
        if (jpeg == nullptr || stb == nullptr) {
            return;
        }
        ok = find(jpeg, "tjInitDecompress", initDecompress) &&
             find(jpeg, "tjDecompressHeader3", decompressHeader3) &&
             find(jpeg, "tjDecompress2", decompress2) &&
             find(jpeg, "tjInitCompress", initCompress) && find(jpeg, "tjCompress2", compress2) &&
             find(jpeg, "tjInitTransform", initTransform) && find(jpeg, "tjTransform", transform) &&
             find(jpeg, "tjDestroy", destroy) && find(jpeg, "tjFree", free) &&
             find(stb, "stbi_info_from_memory", infoFromMemory) &&
             find(stb, "stbi_load_from_memory", loadFromMemory) &&
             find(stb, "stbi_image_free", imageFree) &&
             find(stb, "stbi_write_bmp_to_func", writeBmpToFunc);
    }

    template <typename F>
    static bool find(void* library, const char* name, F& function) {
        function = reinterpret_cast<F>(dlsym(library, name));  // NOLINT: a symbol's address
        return function != nullptr;
    }
};

const Imaging& imaging() {
    static const Imaging libraries;
    return libraries;
}

struct TjCloser {
    void operator()(void* handle) const {
        if (handle != nullptr) {
            imaging().destroy(handle);
        }
    }
};
using TjHandle = std::unique_ptr<void, TjCloser>;

struct TjBuffer {
    unsigned char* data = nullptr;
    unsigned long size = 0;
    ~TjBuffer() { imaging().free(data); }
};

bool sizeAllowed(int width, int height) {
    return width > 0 && height > 0 &&
           static_cast<std::size_t>(width) * static_cast<std::size_t>(height) <= kMaxPicturePixels;
}

bool isJpeg(const std::uint8_t* data, std::size_t size) {
    return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

bool isBmp(const std::uint8_t* data, std::size_t size) {
    return size >= 2 && data[0] == 'B' && data[1] == 'M';
}

bool decodeJpeg(const std::uint8_t* data, std::size_t size, Pixels& out) {
    if (!imaging().ok) {
        return false;
    }
    TjHandle tj(imaging().initDecompress());
    if (!tj || size > ULONG_MAX) {
        return false;
    }
    int width = 0;
    int height = 0;
    int subsamp = 0;
    int colorspace = 0;
    if (imaging().decompressHeader3(tj.get(), data, static_cast<unsigned long>(size), &width,
                                    &height, &subsamp, &colorspace) != 0 ||
        !sizeAllowed(width, height)) {
        return false;
    }
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) *
                                  static_cast<std::size_t>(height) * kRgb);
    // A picture the decoder can read only with warnings (a truncated scan) is not the picture.
    if (imaging().decompress2(tj.get(), data, static_cast<unsigned long>(size), rgb.data(), width,
                              0, height, TJPF_RGB, TJFLAG_STOPONWARNING) != 0) {
        return false;
    }
    out.width = width;
    out.height = height;
    out.rgb = std::move(rgb);
    return true;
}

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Whether an uncompressed BMP holds all its rows; the reader would fill missing ones silently.
bool bmpComplete(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kInfoEnd = 34;
    if (size < kInfoEnd) {
        return false;
    }
    std::uint32_t compression = le32(data + 30);
    if (compression != 0 && compression != 3) {
        return true;  // run-length rows: the reader checks them as it goes
    }
    std::uint64_t offset = le32(data + 10);
    auto width = static_cast<std::int32_t>(le32(data + 18));
    auto height = static_cast<std::int32_t>(le32(data + 22));
    std::uint64_t bits = static_cast<std::uint64_t>(data[28]) | (std::uint64_t{data[29]} << 8);
    if (width <= 0 || height == 0 || bits == 0) {
        return false;
    }
    std::uint64_t rows =
        height < 0 ? 0 - static_cast<std::int64_t>(height) : static_cast<std::uint64_t>(height);
    std::uint64_t rowBytes = (bits * static_cast<std::uint64_t>(width) + 31) / 32 * 4;
    return offset + rowBytes * rows <= size;
}

bool decodeBmp(const std::uint8_t* data, std::size_t size, Pixels& out) {
    if (!imaging().ok) {
        return false;
    }
    if (size > static_cast<std::size_t>(INT_MAX) || !bmpComplete(data, size)) {
        return false;
    }
    int width = 0;
    int height = 0;
    int channels = 0;
    const auto* bytes = reinterpret_cast<const stbi_uc*>(data);
    int length = static_cast<int>(size);
    if (imaging().infoFromMemory(bytes, length, &width, &height, &channels) == 0 ||
        !sizeAllowed(width, height)) {
        return false;
    }
    stbi_uc* pixels = imaging().loadFromMemory(bytes, length, &width, &height, &channels, kRgb);
    if (pixels == nullptr) {
        return false;
    }
    std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * kRgb;
    out.width = width;
    out.height = height;
    out.rgb.assign(pixels, pixels + n);
    imaging().imageFree(pixels);
    return true;
}

void appendBytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(context);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

// The lossless turn of a JPEG whose size is a whole number of coding blocks; false when the
// file is not such a JPEG.
bool transformJpeg(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
    if (!imaging().ok) {
        return false;
    }
    TjHandle tj(imaging().initTransform());
    if (!tj || size > ULONG_MAX) {
        return false;
    }
    int width = 0;
    int height = 0;
    int subsamp = 0;
    int colorspace = 0;
    if (imaging().decompressHeader3(tj.get(), data, static_cast<unsigned long>(size), &width,
                                    &height, &subsamp, &colorspace) != 0 ||
        !sizeAllowed(width, height) || subsamp < 0 || subsamp >= TJ_NUMSAMP) {
        return false;
    }
    tjtransform transform;
    std::memset(&transform, 0, sizeof transform);
    transform.op = TJXOP_ROT180;
    // Partial blocks at the edges would stay where they are: such a picture takes the long way.
    transform.options = TJXOPT_PERFECT;
    TjBuffer result;
    if (imaging().transform(tj.get(), data, static_cast<unsigned long>(size), 1, &result.data,
                            &result.size, &transform, 0) != 0) {
        return false;
    }
    // The transform copies the scan without decoding it: a picture cut short must still decode.
    Pixels check;
    if (!decodeJpeg(result.data, result.size, check)) {
        return false;
    }
    out.assign(result.data, result.data + result.size);
    return true;
}

}  // namespace

const char* pictureExtension(PictureFormat format) {
    return format == PictureFormat::Bmp ? ".bmp" : ".jpg";
}

bool sniffPicture(const std::uint8_t* data, std::size_t size, PictureFormat& format) {
    if (isJpeg(data, size)) {
        format = PictureFormat::Jpeg;
        return true;
    }
    if (isBmp(data, size)) {
        format = PictureFormat::Bmp;
        return true;
    }
    return false;
}

bool decodePicture(const std::uint8_t* data, std::size_t size, Pixels& out) {
    if (isJpeg(data, size)) {
        return decodeJpeg(data, size, out);
    }
    if (isBmp(data, size)) {
        return decodeBmp(data, size, out);
    }
    return false;
}

bool encodePicture(const Pixels& pixels, PictureFormat format, std::vector<std::uint8_t>& out,
                   int quality) {
    out.clear();
    if (!imaging().ok) {
        return false;
    }
    if (!sizeAllowed(pixels.width, pixels.height) ||
        pixels.rgb.size() != static_cast<std::size_t>(pixels.width) *
                                 static_cast<std::size_t>(pixels.height) * kRgb) {
        return false;
    }
    if (format == PictureFormat::Bmp) {
        return imaging().writeBmpToFunc(appendBytes, &out, pixels.width, pixels.height, kRgb,
                                        pixels.rgb.data()) != 0 &&
               !out.empty();
    }
    TjHandle tj(imaging().initCompress());
    if (!tj) {
        return false;
    }
    TjBuffer jpeg;
    if (imaging().compress2(tj.get(), pixels.rgb.data(), pixels.width, 0, pixels.height, TJPF_RGB,
                            &jpeg.data, &jpeg.size, TJSAMP_420, quality, TJFLAG_FASTDCT) != 0) {
        return false;
    }
    out.assign(jpeg.data, jpeg.data + jpeg.size);
    return true;
}

void rotate180(Pixels& pixels) {
    std::size_t count = pixels.rgb.size() / kRgb;
    std::uint8_t* p = pixels.rgb.data();
    for (std::size_t i = 0, j = count; i + 1 < j; ++i) {
        --j;
        for (int c = 0; c < kRgb; ++c) {
            std::swap(p[i * kRgb + static_cast<std::size_t>(c)],
                      p[j * kRgb + static_cast<std::size_t>(c)]);
        }
    }
}

bool rotatePicture180(const std::uint8_t* data, std::size_t size, PictureFormat format,
                      std::vector<std::uint8_t>& out) {
    out.clear();
    if (format == PictureFormat::Jpeg && isJpeg(data, size) && transformJpeg(data, size, out)) {
        return true;
    }
    Pixels pixels;
    if (!decodePicture(data, size, pixels)) {
        return false;
    }
    rotate180(pixels);
    if (!encodePicture(pixels, format, out)) {
        out.clear();
        return false;
    }
    return true;
}

}  // namespace vandora
