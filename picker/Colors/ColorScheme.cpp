#include "picker/Colors/ColorScheme.h"

namespace {

SchemeColors make(const SchemeValues& values) {
    SchemeColors colors;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto& v = values[i];
        colors[i] = AppKit::NSColor::colorWithHue(v.hue, v.saturation, v.brightness, v.alpha);
    }
    return colors;
}

}  // namespace

std::optional<ColorScheme> colorSchemeFromRawValue(long rawValue) {
    if (rawValue < 0 || rawValue > 3) return std::nullopt;
    return static_cast<ColorScheme>(rawValue);
}

double shiftedHue(double h, double degrees) {
    double angle = h * 360 + degrees;
    if (angle > 360) {
        angle -= 360;
    } else if (angle < 0) {
        angle += 360;
    }
    return angle / 360;
}

SchemeValues analogousValues(double h, double s, double v, double a) {
    return {{{shiftedHue(h, 30), s - 0.05, v - 0.1, a},
             {shiftedHue(h, 15), s - 0.05, v - 0.05, a},
             {shiftedHue(h, -15), s - 0.05, v - 0.05, a},
             {shiftedHue(h, -30), s - 0.05, v - 0.1, a}}};
}

SchemeValues monochromaticValues(double h, double s, double v, double a) {
    return {{{h, s * 0.5, v / 3, a}, {h, s, v * 0.5, a}, {h, s / 3, (v + v) / 3, a}, {h, s, (v * 4) / 5, a}}};
}

SchemeValues triadValues(double h, double s, double v, double a) {
    return {{{shiftedHue(h, 120), (s + s) / 3, v - 0.05, a},
             {shiftedHue(h, 120), s, v, a},
             {shiftedHue(h, 240), s, v, a},
             {shiftedHue(h, 240), (s + s) / 3, v - 0.05, a}}};
}

SchemeValues complementaryValues(double h, double s, double v, double a) {
    return {{{h, s, (4 * v) / 5, a},
             {h, (5 * s) / 7, v, a},
             {shiftedHue(h, 180), s, v, a},
             {shiftedHue(h, 180), (5 * s) / 7, v, a}}};
}

SchemeColors analogousColors(double h, double s, double v, double a) { return make(analogousValues(h, s, v, a)); }
SchemeColors monochromaticColors(double h, double s, double v, double a) {
    return make(monochromaticValues(h, s, v, a));
}
SchemeColors triadColors(double h, double s, double v, double a) { return make(triadValues(h, s, v, a)); }
SchemeColors complementaryColors(double h, double s, double v, double a) {
    return make(complementaryValues(h, s, v, a));
}

SchemeColors colorsForScheme(long rawValue, double h, double s, double v, double a) {
    switch (rawValue) {
        case 1:
            return monochromaticColors(h, s, v, a);
        case 2:
            return triadColors(h, s, v, a);
        case 3:
            return complementaryColors(h, s, v, a);
        default:
            return analogousColors(h, s, v, a);
    }
}
