// Small photo and video files with known dates, made on the spot: JPEG, PNG
// and TIFF through exiv2's writer, the ISO base media files (HEIC, MP4, MOV)
// box by box, since exiv2 writes none of those.
#pragma once

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// exiv2 0.27 hands its objects out in std::auto_ptr.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

namespace morix::testing {

// EXIF or XMP keys with their text values, such as
// {"Exif.Photo.DateTimeOriginal", "2003:10:04 03:10:45"}.
using MetadataValues = std::vector<std::pair<std::string, std::string>>;

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The values into an EXIF block; Exif.Canon.* keys under a Canon make
// become a maker note, as the camera writes one.
inline void FillExif(Exiv2::ExifData& exif, const MetadataValues& values) {
    for (const auto& [key, value] : values)
        exif[key] = value;
}

// A JPEG (exiv2's blank 1x1 picture) with the given EXIF values; with
// thumbnailBytes > 0 an EXIF thumbnail of that size too.
inline void WriteJpeg(const std::string& path, const MetadataValues& exif,
                      std::size_t thumbnailBytes = 0) {
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::create(Exiv2::ImageType::jpeg, path);
    FillExif(image->exifData(), exif);
    if (thumbnailBytes >= 4) {
        std::vector<Exiv2::byte> thumbnail(thumbnailBytes, 0x55);
        thumbnail[0] = 0xFF;
        thumbnail[1] = 0xD8;
        thumbnail[thumbnailBytes - 2] = 0xFF;
        thumbnail[thumbnailBytes - 1] = 0xD9;
        Exiv2::ExifThumb(image->exifData()).setJpegThumbnail(thumbnail.data(), thumbnail.size());
    }
    if (!exif.empty() || thumbnailBytes > 0) image->writeMetadata();
}

// A PNG (exiv2's blank picture) with the given XMP values.
inline void WritePngWithXmp(const std::string& path, const MetadataValues& xmp) {
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::create(Exiv2::ImageType::png, path);
    for (const auto& [key, value] : xmp)
        image->xmpData()[key] = value;
    image->writeMetadata();
}

// The EXIF values as a TIFF structure: a TIFF file of its own, and what
// HEIC keeps in its Exif item.
inline std::string TiffBytes(const MetadataValues& exif) {
    Exiv2::ExifData data;
    FillExif(data, exif);
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, data);
    return std::string(blob.begin(), blob.end());
}

namespace box {

inline std::string U32(std::uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}
inline std::string U16(std::uint16_t v) {
    return {static_cast<char>(v >> 8), static_cast<char>(v)};
}
inline std::string Box(const char* type, const std::string& payload) {
    return U32(static_cast<std::uint32_t>(8 + payload.size())) + type + payload;
}
inline std::string FullBox(const char* type, std::uint8_t version, const std::string& payload) {
    return Box(type, U32(std::uint32_t{version} << 24) + payload);
}

}  // namespace box

// An MP4 (brand "isom") or, with quickTime, a MOV (brand "qt  ") whose movie
// header says it was made creationTime seconds after 1904-01-01 UTC.
inline std::string MovieBytes(std::uint32_t creationTime, bool quickTime) {
    using namespace box;
    const std::string matrix = U32(0x10000) + std::string(12, '\0') + U32(0x10000) +
                               std::string(12, '\0') + U32(0x40000000);
    const std::string mvhd =
        FullBox("mvhd", 0,
                U32(creationTime) + U32(creationTime) + U32(1000) + U32(5000) + U32(0x10000) +
                    U16(0x100) + std::string(10, '\0') + matrix + std::string(24, '\0') + U32(2));
    const std::string ftyp = quickTime ? Box("ftyp", std::string("qt  ") + U32(0x200) + "qt  ")
                                       : Box("ftyp", std::string("isom") + U32(0x200) + "isommp41");
    return ftyp + Box("moov", mvhd);
}

// A HEIC whose Exif item holds the given EXIF values (no picture item data).
inline std::string HeicBytes(const MetadataValues& exif) {
    using namespace box;
    const std::string item = U32(0) + TiffBytes(exif);  // no offset to the TIFF header
    const std::string ftyp = Box("ftyp", std::string("heic") + U32(0) + "mif1heic");
    const std::string hdlr = FullBox("hdlr", 0, U32(0) + "pict" + std::string(13, '\0'));
    const std::string pitm = FullBox("pitm", 0, U16(1));
    const std::string iinf =
        FullBox("iinf", 0,
                U16(2) + FullBox("infe", 2, U16(1) + U16(0) + "hvc1" + std::string(1, '\0')) +
                    FullBox("infe", 2, U16(2) + U16(0) + "Exif" + std::string(1, '\0')));
    const auto withItemAt = [&](std::uint32_t offset) {
        // Offsets and lengths of four bytes, no base offset; one extent.
        const std::string iloc =
            FullBox("iloc", 0,
                    std::string("\x44\x00", 2) + U16(1) + U16(2) + U16(0) + U16(1) + U32(offset) +
                        U32(static_cast<std::uint32_t>(item.size())));
        return ftyp + FullBox("meta", 0, hdlr + pitm + iinf + iloc);
    };
    const std::string head = withItemAt(0);
    return withItemAt(static_cast<std::uint32_t>(head.size() + 8)) + Box("mdat", item);
}

// 2003-10-04 03:10:45 and the like as EXIF writes it.
inline MetadataValues TakenAt(const std::string& exifDate) {
    return {{"Exif.Photo.DateTimeOriginal", exifDate}};
}

}  // namespace morix::testing

#pragma GCC diagnostic pop
