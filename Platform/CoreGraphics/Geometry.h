#pragma once
// Points, sizes and rectangles in points. The y axis grows upwards (screen
// coordinates start at the bottom left of the main screen); a flipped view
// turns its own axis over, nothing else does.

#include <algorithm>
#include <cmath>

namespace CoreGraphics {

using CGFloat = double;

struct CGPoint {
    CGFloat x = 0, y = 0;
    bool operator==(const CGPoint&) const = default;
};

struct CGSize {
    CGFloat width = 0, height = 0;
    bool operator==(const CGSize&) const = default;
};

struct CGRect {
    CGPoint origin;
    CGSize size;
    bool operator==(const CGRect&) const = default;

    CGFloat minX() const { return origin.x; }
    CGFloat minY() const { return origin.y; }
    CGFloat maxX() const { return origin.x + size.width; }
    CGFloat maxY() const { return origin.y + size.height; }
    CGFloat midX() const { return origin.x + size.width / 2; }
    CGFloat midY() const { return origin.y + size.height / 2; }
    CGFloat width() const { return size.width; }
    CGFloat height() const { return size.height; }
    bool isEmpty() const { return !(size.width > 0) || !(size.height > 0); }
    // Half-open, as the platform's hit tests: the max edges are outside.
    bool contains(CGPoint p) const { return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY(); }
};

inline CGPoint CGPointMake(CGFloat x, CGFloat y) { return {x, y}; }
inline CGSize CGSizeMake(CGFloat w, CGFloat h) { return {w, h}; }
inline CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat w, CGFloat h) { return {{x, y}, {w, h}}; }
inline CGRect CGRectInset(CGRect r, CGFloat dx, CGFloat dy) {
    return CGRectMake(r.origin.x + dx, r.origin.y + dy, r.size.width - 2 * dx, r.size.height - 2 * dy);
}
inline CGRect CGRectOffset(CGRect r, CGFloat dx, CGFloat dy) {
    return CGRectMake(r.origin.x + dx, r.origin.y + dy, r.size.width, r.size.height);
}
inline CGRect CGRectIntersection(CGRect a, CGRect b) {
    CGFloat x0 = std::max(a.minX(), b.minX()), y0 = std::max(a.minY(), b.minY());
    CGFloat x1 = std::min(a.maxX(), b.maxX()), y1 = std::min(a.maxY(), b.maxY());
    if (x1 <= x0 || y1 <= y0) return {};
    return CGRectMake(x0, y0, x1 - x0, y1 - y0);
}
inline CGRect CGRectUnion(CGRect a, CGRect b) {
    if (a.isEmpty()) return b;
    if (b.isEmpty()) return a;
    CGFloat x0 = std::min(a.minX(), b.minX()), y0 = std::min(a.minY(), b.minY());
    CGFloat x1 = std::max(a.maxX(), b.maxX()), y1 = std::max(a.maxY(), b.maxY());
    return CGRectMake(x0, y0, x1 - x0, y1 - y0);
}

}  // namespace CoreGraphics
