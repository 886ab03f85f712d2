//
//  UIColor+Spring & <Summer>.h
//  The colours of the palette "Spring & <Summer>", exported from Vexil.
//

#import <UIKit/UIKit.h>

NS_ASSUME_NONNULL_BEGIN

@interface UIColor (VexilPalette)

/// Screamin' Green (#66ff66)
+ (UIColor *)screaminGreen;
/// Black/White (#808080)
+ (UIColor *)blackwhite;
/// 3 Wise Men (#ff8000)
+ (UIColor *)_3WiseMen;
/// Crème Brûlée (#fffdd0)
+ (UIColor *)cremeBrulee;
/// <b>"Tom & Jerry's"</b> (#a52a2a)
+ (UIColor *)btomJerrysb;
/// Marascino (#ff0000)
+ (UIColor *)marascino;
/// MARASCINO (#ee0000)
+ (UIColor *)marascino2;
/// Default (#123456)
+ (UIColor *)_default;
/// Line Break (#abcdef)
+ (UIColor *)linebreak;
/// 🎨 (#000000)
+ (UIColor *)color;

@end

NS_ASSUME_NONNULL_END
