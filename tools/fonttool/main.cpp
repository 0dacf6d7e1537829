// fonttool size name [bold] [italic] [antialias]: renders a font into a ".fn2" file named
// "size_name_bold_italic_antialias.fn2" in the current folder.
#include "gfx/font.h"

int main(int argc, char** argv) {
    return fontToolMain(argc, argv);
}
