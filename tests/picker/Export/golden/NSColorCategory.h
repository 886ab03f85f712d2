//
//  NSColor+Spring & <Summer>.h
//  The colours of the palette "Spring & <Summer>", exported from Vexil.
//

#import <AppKit/AppKit.h>

NS_ASSUME_NONNULL_BEGIN

@interface NSColor (VexilPalette)

/// Screamin' Green (#66ff66)
+ (NSColor *)screaminGreen;
/// Black/White (#808080)
+ (NSColor *)blackwhite;
/// 3 Wise Men (#ff8000)
+ (NSColor *)_3WiseMen;
/// Crème Brûlée (#fffdd0)
+ (NSColor *)cremeBrulee;
/// <b>"Tom & Jerry's"</b> (#a52a2a)
+ (NSColor *)btomJerrysb;
/// Marascino (#ff0000)
+ (NSColor *)marascino;
/// MARASCINO (#ee0000)
+ (NSColor *)marascino2;
/// Default (#123456)
+ (NSColor *)_default;
/// Line Break (#abcdef)
+ (NSColor *)linebreak;
/// 🎨 (#000000)
+ (NSColor *)color;

@end

NS_ASSUME_NONNULL_END
