//
//  UIColor+Spring & <Summer>.swift
//  The colours of the palette "Spring & <Summer>", exported from Vexil.
//

import UIKit

extension UIColor {
    /// Screamin' Green (#66ff66)
    static let screaminGreen = UIColor(red: 0.4000000000, green: 1.0000000000, blue: 0.4000000000, alpha: 1.00)
    /// Black/White (#808080)
    static let blackwhite = UIColor(red: 0.5019607843, green: 0.5019607843, blue: 0.5019607843, alpha: 1.00)
    /// 3 Wise Men (#ff8000)
    static let _3WiseMen = UIColor(red: 1.0000000000, green: 0.5019607843, blue: 0.0000000000, alpha: 1.00)
    /// Crème Brûlée (#fffdd0)
    static let cremeBrulee = UIColor(red: 1.0000000000, green: 0.9921568627, blue: 0.8156862745, alpha: 1.00)
    /// <b>"Tom & Jerry's"</b> (#a52a2a)
    static let btomJerrysb = UIColor(red: 0.6470588235, green: 0.1647058824, blue: 0.1647058824, alpha: 1.00)
    /// Marascino (#ff0000)
    static let marascino = UIColor(red: 1.0000000000, green: 0.0000000000, blue: 0.0000000000, alpha: 1.00)
    /// MARASCINO (#ee0000)
    static let marascino2 = UIColor(red: 0.9333333333, green: 0.0000000000, blue: 0.0000000000, alpha: 1.00)
    /// Default (#123456)
    static let _default = UIColor(red: 0.0705882353, green: 0.2039215686, blue: 0.3372549020, alpha: 1.00)
    /// Line Break (#abcdef)
    static let linebreak = UIColor(red: 0.6705882353, green: 0.8039215686, blue: 0.9372549020, alpha: 1.00)
    /// 🎨 (#000000)
    static let color = UIColor(red: 0.0000000000, green: 0.0000000000, blue: 0.0000000000, alpha: 1.00)
}
