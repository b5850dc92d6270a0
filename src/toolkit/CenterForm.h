// Where a dialog goes when it is centred over the main window. Pure arithmetic, kept apart from
// the widgets so that the rounding can be checked without a display.
#pragma once

namespace toolkit {

struct FormPosition {
    int Left = 0;
    int Top = 0;
};

// The form's outer top-left corner: the main window's corner plus half the difference of the two
// client sizes. C++ division truncates toward zero, so a form 3 pixels wider than the main window
// lands 1 pixel (not 2) to the left of it, the same place on every platform.
constexpr FormPosition CenteredPosition(int mainLeft, int mainTop, int mainClientWidth,
                                        int mainClientHeight, int formClientWidth,
                                        int formClientHeight) {
    return {mainLeft + (mainClientWidth - formClientWidth) / 2,
            mainTop + (mainClientHeight - formClientHeight) / 2};
}

} // namespace toolkit
