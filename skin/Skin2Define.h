#pragma once

// Names of the keys of a skin file's table. A control asks by kind and number: the name is entry
// number + 0 for colours (0-31), + 32 for bitmaps (0-33), + 66 for integers (0-8) and + 75 for
// Booleans (0-8). The constants below are those numbers, per kind.

#include <QString>

constexpr int kSkin2KeyCount = 84;
constexpr int kSkin2ColorBase = 0;
constexpr int kSkin2BitmapBase = 32;
constexpr int kSkin2IntegerBase = 66;
constexpr int kSkin2BooleanBase = 75;

// Entry Index (0..83) of the name table; empty outside it.
QString Skin2KeyName(int Index);

enum TSkin2ColorKey : int {
    SkiN2Transcolor = 0,
    SkiN2Titlefontcolor = 1,
    SkiN2Formcolor = 2,
    SkiN2Menubarstartcolor = 3,
    SkiN2Menubarendcolor = 4,
    SkiN2Topselectedmenucolor = 5,
    SkiN2Topselectedmenubordercolor = 6,
    SkiN2Topselectedmenufontcolor = 7,
    SkiN2Topmenufontcolor = 8,
    SkiN2Leftbarstartcolor = 9,
    SkiN2Leftbarendcolor = 10,
    SkiN2Menuitemcolor = 11,
    SkiN2Menuitemfontcolor = 12,
    SkiN2Selectedmenucolor = 13,
    SkiN2Selectedmenubordercolor = 14,
    SkiN2Selectedmenufontcolor = 15,
    SkiN2Toolbarstartcolor = 16,
    SkiN2Toolbarendcolor = 17,
    SkiN2Toolbaroncolor = 18,
    SkiN2Toolbarbordercolor = 19,
    SkiN2Toolbardowncolor = 20,
    SkiN2Controlcolor = 21,
    SkiN2Controlbordercolor = 22,
    SkiN2Controlfontcolor = 23,
    SkiN2Buttonfontcolor = 24,
    SkiN2Scrollbarcolor = 25,
    SkiN2Tabcontrolcolor = 26,
    SkiN2Tabcontrolbordercolor = 27,
    SkiN2Tabcontrolactivefontcolor = 28,
    SkiN2Tabcontrolinactivefontcolor = 29,
    SkiN2Sidechannelcolor = 30,
    SkiN2Sidechannelbordercolor = 31,
};

enum TSkin2BitmapKey : int {
    SkiN2TitlebaR1 = 0,
    SkiN2TitlebaR2 = 1,
    SkiN2TitlebaR3 = 2,
    SkiN2TitlebaR4 = 3,
    SkiN2TitlebaR5 = 4,
    SkiN2Formleftborder = 5,
    SkiN2Formrightborder = 6,
    SkiN2FormbottombordeR1 = 7,
    SkiN2FormbottombordeR2 = 8,
    SkiN2FormbottombordeR3 = 9,
    SkiN2Minimizedtitle = 10,
    SkiN2Titlebuttons = 11,
    SkiN2Checkedmenuicon = 12,
    SkiN2Menubar = 13,
    SkiN2Toolbar = 14,
    SkiN2Button = 15,
    SkiN2Checkbox = 16,
    SkiN2Checkboxlist = 17,
    SkiN2Radiobutton = 18,
    SkiN2ProgressbaR1 = 19,
    SkiN2ProgressbaR2 = 20,
    SkiN2ProgressbaR3 = 21,
    SkiN2ProgressbaR4 = 22,
    SkiN2Trackbar = 23,
    SkiN2Trackbarslider = 24,
    SkiN2Trackbarvslider = 25,
    SkiN2Scrollbarupbutton = 26,
    SkiN2Scrollbar = 27,
    SkiN2Scrollbardownbutton = 28,
    SkiN2Tabcontrol = 29,
    SkiN2Tabcontrolline = 30,
    SkiN2Sidechannelbar = 31,
    SkiN2Sidechanneltitle = 32,
    SkiN2Scrollbutton = 33,
};

enum TSkin2IntegerKey : int {
    SkiN2Titlebariconposx = 0,
    SkiN2Titlebariconposy = 1,
    SkiN2Titlebarcaptiontop = 2,
    SkiN2Titlebarbuttonposx = 3,
    SkiN2Titlebarbuttonposy = 4,
    SkiN2Titlebarregionminy = 5,
    SkiN2Titlebarregionmaxy = 6,
    SkiN2Bottomregionminy = 7,
    SkiN2Bottomregionmaxy = 8,
};

enum TSkin2BooleanKey : int {
    SkiN2Titlefivesect = 0,
    SkiN2Bottomborderthreesect = 1,
    SkiN2Titlebarneedregion = 2,
    SkiN2Bottomborderneedregion = 3,
    SkiN2Titlebtntrans = 4,
    SkiN2Buttontrans = 5,
    SkiN2Checkboxtrans = 6,
    SkiN2Radiobuttontrans = 7,
    SkiN2Tabcontroltrans = 8,
};
