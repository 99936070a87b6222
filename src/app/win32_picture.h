// The picture of the Windows window: a processor in its package, 100 x 79
// pixels, as a window class of its own.
#pragma once

namespace torv {

// Registers the picture's window class for the module `instance` (an
// HINSTANCE) and returns the class name.
const char* RegisterPictureClass(void* instance);

}  // namespace torv
