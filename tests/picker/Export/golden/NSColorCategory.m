//
//  NSColor+Spring & <Summer>.m
//  The colours of the palette "Spring & <Summer>", exported from Vexil.
//

#import <AppKit/AppKit.h>

@implementation NSColor (VexilPalette)

/// Screamin' Green (#66ff66)
+ (NSColor *)screaminGreen {
    return [NSColor colorWithSRGBRed:0.4000000000 green:1.0000000000 blue:0.4000000000 alpha:1.00];
}

/// Black/White (#808080)
+ (NSColor *)blackwhite {
    return [NSColor colorWithSRGBRed:0.5019607843 green:0.5019607843 blue:0.5019607843 alpha:1.00];
}

/// 3 Wise Men (#ff8000)
+ (NSColor *)_3WiseMen {
    return [NSColor colorWithSRGBRed:1.0000000000 green:0.5019607843 blue:0.0000000000 alpha:1.00];
}

/// Crème Brûlée (#fffdd0)
+ (NSColor *)cremeBrulee {
    return [NSColor colorWithSRGBRed:1.0000000000 green:0.9921568627 blue:0.8156862745 alpha:1.00];
}

/// <b>"Tom & Jerry's"</b> (#a52a2a)
+ (NSColor *)btomJerrysb {
    return [NSColor colorWithSRGBRed:0.6470588235 green:0.1647058824 blue:0.1647058824 alpha:1.00];
}

/// Marascino (#ff0000)
+ (NSColor *)marascino {
    return [NSColor colorWithSRGBRed:1.0000000000 green:0.0000000000 blue:0.0000000000 alpha:1.00];
}

/// MARASCINO (#ee0000)
+ (NSColor *)marascino2 {
    return [NSColor colorWithSRGBRed:0.9333333333 green:0.0000000000 blue:0.0000000000 alpha:1.00];
}

/// Default (#123456)
+ (NSColor *)_default {
    return [NSColor colorWithSRGBRed:0.0705882353 green:0.2039215686 blue:0.3372549020 alpha:1.00];
}

/// Line Break (#abcdef)
+ (NSColor *)linebreak {
    return [NSColor colorWithSRGBRed:0.6705882353 green:0.8039215686 blue:0.9372549020 alpha:1.00];
}

/// 🎨 (#000000)
+ (NSColor *)color {
    return [NSColor colorWithSRGBRed:0.0000000000 green:0.0000000000 blue:0.0000000000 alpha:1.00];
}

@end
