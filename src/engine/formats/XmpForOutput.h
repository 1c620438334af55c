#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The XMP packet that an upright output of `width` × `height` pixels carries, made from the
// source's `packet` without parsing it into a tree (which costs more than the picture): where the
// packet states the orientation or the size (tiff:Orientation, tiff:ImageWidth, tiff:ImageLength,
// exif:PixelXDimension, exif:PixelYDimension, as attributes or as elements, whatever prefixes the
// packet binds those namespaces to), the output's; the padding before the packet's end marker
// goes; everything else is the source's. Throws RuntimeError (InvalidPicture) naming the fault
// when the packet is not UTF-8 text of an RDF description.
std::string XmpForOutput(std::string_view packet, std::uint32_t width, std::uint32_t height);
