// Reads a colour-list file through GNUstep's NSColorList (its own file
// reader, then its keyed unarchiver) and prints what it found:
//   name <TAB> <name>            ("-" for none)
//   <key> <TAB> <space name> <TAB> <components, space separated, alpha last>
// Tabs, line ends and backslashes in texts are written as \t, \n, \\.
#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>
#include <stdio.h>

static void put(NSString* text) {
    const char* s = [text UTF8String];
    for (; s && *s; ++s) {
        if (*s == '\t') fputs("\\t", stdout);
        else if (*s == '\n') fputs("\\n", stdout);
        else if (*s == '\\') fputs("\\\\", stdout);
        else fputc(*s, stdout);
    }
}

int main(int argc, char** argv) {
    NSAutoreleasePool* pool = [NSAutoreleasePool new];
    if (argc != 2) return 2;
    NSString* path = [NSString stringWithUTF8String:argv[1]];
    NSColorList* list = [[NSColorList alloc] initWithName:@"-" fromFile:path];
    if (list == nil || [[list allKeys] count] == 0) {
        id object = nil;
        NS_DURING
            object = [NSKeyedUnarchiver unarchiveObjectWithFile:path];
        NS_HANDLER
            fprintf(stderr, "unarchiver: %s\n", [[localException reason] UTF8String]);
        NS_ENDHANDLER
        if (![object isKindOfClass:[NSColorList class]]) {
            fprintf(stderr, "not a colour list\n");
            return 1;
        }
        list = object;
    }
    fputs("name\t", stdout);
    put([list name] ? [list name] : @"-");
    fputs("\n", stdout);
    NSEnumerator* keys = [[list allKeys] objectEnumerator];
    NSString* key;
    while ((key = [keys nextObject]) != nil) {
        NSColor* c = [list colorWithKey:key];
        NSString* space = [c colorSpaceName];
        put(key);
        printf("\t%s\t", [space UTF8String]);
        if ([space isEqualToString:NSCalibratedRGBColorSpace] || [space isEqualToString:NSDeviceRGBColorSpace]) {
            printf("%.9g %.9g %.9g", (double)[c redComponent], (double)[c greenComponent], (double)[c blueComponent]);
        } else if ([space isEqualToString:NSCalibratedWhiteColorSpace] ||
                   [space isEqualToString:NSDeviceWhiteColorSpace]) {
            printf("%.9g", (double)[c whiteComponent]);
        } else if ([space isEqualToString:NSDeviceCMYKColorSpace]) {
            printf("%.9g %.9g %.9g %.9g", (double)[c cyanComponent], (double)[c magentaComponent],
                   (double)[c yellowComponent], (double)[c blackComponent]);
        }
        printf(" %.9g\n", (double)[c alphaComponent]);
    }
    [pool release];
    return 0;
}
