//
//  UIColor+Spring & <Summer>.m
//  The colours of the palette "Spring & <Summer>", exported from Vexil.
//

#import <UIKit/UIKit.h>

@implementation UIColor (VexilPalette)

/// Screamin' Green (#66ff66)
+ (UIColor *)screaminGreen {
    return [UIColor colorWithRed:0.4000000000 green:1.0000000000 blue:0.4000000000 alpha:1.00];
}

/// Black/White (#808080)
+ (UIColor *)blackwhite {
    return [UIColor colorWithRed:0.5019607843 green:0.5019607843 blue:0.5019607843 alpha:1.00];
}

/// 3 Wise Men (#ff8000)
+ (UIColor *)_3WiseMen {
    return [UIColor colorWithRed:1.0000000000 green:0.5019607843 blue:0.0000000000 alpha:1.00];
}

/// Crème Brûlée (#fffdd0)
+ (UIColor *)cremeBrulee {
    return [UIColor colorWithRed:1.0000000000 green:0.9921568627 blue:0.8156862745 alpha:1.00];
}

/// <b>"Tom & Jerry's"</b> (#a52a2a)
+ (UIColor *)btomJerrysb {
    return [UIColor colorWithRed:0.6470588235 green:0.1647058824 blue:0.1647058824 alpha:1.00];
}

/// Marascino (#ff0000)
+ (UIColor *)marascino {
    return [UIColor colorWithRed:1.0000000000 green:0.0000000000 blue:0.0000000000 alpha:1.00];
}

/// MARASCINO (#ee0000)
+ (UIColor *)marascino2 {
    return [UIColor colorWithRed:0.9333333333 green:0.0000000000 blue:0.0000000000 alpha:1.00];
}

/// Default (#123456)
+ (UIColor *)_default {
    return [UIColor colorWithRed:0.0705882353 green:0.2039215686 blue:0.3372549020 alpha:1.00];
}

/// Line Break (#abcdef)
+ (UIColor *)linebreak {
    return [UIColor colorWithRed:0.6705882353 green:0.8039215686 blue:0.9372549020 alpha:1.00];
}

/// 🎨 (#000000)
+ (UIColor *)color {
    return [UIColor colorWithRed:0.0000000000 green:0.0000000000 blue:0.0000000000 alpha:1.00];
}

@end
