#pragma once

#include <cstddef>
#include <span>

// Icon 128, the application icon: a two-line customer display on its pole.
namespace vyx::resources {

struct IconImage {
    int size;                            // width and height in pixels
    std::span<const unsigned char> png;  // 8-bit RGBA (32 bits per pixel) PNG
};

// The icon's images, smallest first; the first is the 16 x 16 picture the dialog and
// the About box use, the larger ones serve the desktop.
std::span<const IconImage> ApplicationIcon();

}  // namespace vyx::resources
