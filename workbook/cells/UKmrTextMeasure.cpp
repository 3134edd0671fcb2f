#include "workbook/cells/UKmrTextMeasure.h"

#include <numbers>

namespace kalmira {

long double CalcAngle(int rotation, bool& stacked) {
    stacked = rotation == 255;
    if (rotation >= 0 && rotation <= 90) return rotation * std::numbers::pi_v<long double> / 180;
    if (rotation > 90 && rotation <= 180) return (90 - rotation) * std::numbers::pi_v<long double> / 180;
    return 0;
}

}  // namespace kalmira
