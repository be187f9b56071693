#pragma once

// Files the reader must refuse, with the exact messages it prints ("FILE"
// stands for the file's path). The X server oracle test runs the same files.

#include <string>

namespace toolcfg_test {

struct BrokenFile {
  const char* name;
  const char* text;
  const char* message;
  // Why the real X server's verdict differs, or null when it refuses the file
  // on the same line.
  const char* server_differs;
};

#define DEV_OK "Section \"Device\"\n Identifier \"d\"\n Driver \"vesa\"\nEndSection\n"

inline const BrokenFile kBrokenFiles[] = {
    {"UnknownSection", "Section \"Foo\"\nEndSection\n",
     "Parse error on line 1 of section Foo in file FILE\n\t\"Foo\" is not a valid section name.\n",
     nullptr},
    {"SectionWithoutName", "# c\nSection Device\n",
     "Parse error on line 2 of section  in file FILE\n\tThe Section keyword requires a quoted "
     "string to follow it.\n",
     nullptr},
    {"TopLevelWord", "\n\njunk\n",
     "Parse error on line 3 of section  in file FILE\n\t\"junk\" is not a valid keyword in this "
     "section.\n",
     nullptr},
    {"EndOfFileInSection", "Section \"Device\"\n Identifier \"d\"\n",
     "Parse error on line 2 of section Device in file FILE\n\tUnexpected EOF. Missing EndSection "
     "keyword?\n",
     nullptr},
    {"InvalidKeyword", "Section \"Device\"\n Identifier \"d\"\n Frobnicate 3\nEndSection\n",
     "Parse error on line 3 of section Device in file FILE\n\t\"Frobnicate\" is not a valid "
     "keyword in this section.\n",
     nullptr},
    {"TwoIdentifiers", "Section \"Device\"\n Identifier \"a\"\n Identifier \"b\"\nEndSection\n",
     "Parse error on line 3 of section Device in file FILE\n\tMultiple \"Identifier\" lines.\n",
     nullptr},
    {"NoIdentifier", "Section \"Monitor\"\n VendorName \"v\"\nEndSection\n",
     "Parse error on line 3 of section Monitor in file FILE\n\tThis section must have an "
     "Identifier line.\n",
     nullptr},
    {"StringMissing", "Section \"Device\"\n Identifier \"d\"\n Driver\nEndSection\n",
     "Parse error on line 4 of section Device in file FILE\n\tThe Driver keyword requires a "
     "quoted string to follow it.\n",
     nullptr},
    {"NumberMissing", "Section \"Device\"\n Identifier \"d\"\n VideoRam \"lots\"\nEndSection\n",
     "Parse error on line 3 of section Device in file FILE\n\tThe VideoRam keyword requires a "
     "number to follow it.\n",
     nullptr},
    {"FifthDacSpeed",
     "Section \"Device\"\n Identifier \"d\"\n DacSpeed 1 2 3 4 5\nEndSection\n",
     "Parse error on line 3 of section Device in file FILE\n\t\"5\" is not a valid keyword in "
     "this section.\n",
     nullptr},
    {"DescendingHorizSync", "Section \"Monitor\"\n Identifier \"m\"\n HorizSync 50-30\nEndSection\n",
     "Parse error on line 3 of section Monitor in file FILE\n\tThe HorizSync keyword must be "
     "followed by a list of numbers or ranges.\n",
     nullptr},
    {"NineVertRefreshRanges",
     "Section \"Monitor\"\n Identifier \"m\"\n VertRefresh 1,2,3,4,5,6,7,8,9\nEndSection\n",
     "Parse error on line 3 of section Monitor in file FILE\n\tSorry. Too many vertical refresh "
     "intervals.\n",
     "the server's newer grammar takes more refresh ranges"},
    {"TwoGammaValues", "Section \"Monitor\"\n Identifier \"m\"\n Gamma 1.0 2.0\nEndSection\n",
     "Parse error on line 4 of section Monitor in file FILE\n\tgamma correction value(s) "
     "expected\n either one value or three r/g/b values.\n",
     nullptr},
    {"ModeLineShort",
     "Section \"Modes\"\n Identifier \"m\"\n ModeLine \"x\" 65 1024 1048 1184 1344 768 771 777\n"
     "EndSection\n",
     "Parse error on line 4 of section Modes in file FILE\n\tModeLine VTotal expected\n", nullptr},
    {"VerboseModeWithoutVTimings",
     "Section \"Modes\"\n Identifier \"m\"\n Mode \"x\"\n  DotClock 65\n  HTimings 1 2 3 4\n"
     " EndMode\nEndSection\n",
     "Parse error on line 6 of section Modes in file FILE\n\tthe vertical timings are missing\n",
     nullptr},
    {"VerboseModeUnknownFlag",
     "Section \"Modes\"\n Identifier \"m\"\n Mode \"x\"\n  Flags \"Interlace\" \"bcast\"\n"
     " EndMode\nEndSection\n",
     "Parse error on line 4 of section Modes in file FILE\n\tUnknown flag string\n", nullptr},
    {"ScreenIdentifierAndDriver",
     "Section \"Screen\"\n Identifier \"s\"\n Driver \"vesa\"\nEndSection\n",
     "Parse error on line 3 of section Screen in file FILE\n\tThis section must have only one of "
     "either Identifier or Driver line.\n",
     "the server's newer grammar takes Driver as an ordinary Screen keyword"},
    {"RelativeWithOneOffset",
     "Section \"ServerLayout\"\n Identifier \"l\"\n Screen \"a\" Relative \"b\" 10\nEndSection\n",
     "Parse error on line 4 of section ServerLayout in file FILE\n\tInvalid Screen line.\n",
     nullptr},
    {"RightOfAtEndOfFile",
     "Section \"ServerLayout\"\n Identifier \"l\"\n Screen \"a\" RightOf",
     "Parse error on line 3 of section ServerLayout in file FILE\n\tInvalid Screen line.\n",
     nullptr},
    {"LegacyScreenWithThreeNeighbours",
     "Section \"ServerLayout\"\n Identifier \"l\"\n Screen \"a\" \"b\" \"c\" \"d\" \"e\"\n"
     " Screen \"x\" \"b\" \"c\" \"d\"\nEndSection\n",
     "Parse error on line 5 of section ServerLayout in file FILE\n\tThe Screen keyword must be "
     "followed by an optional number, a screen name\n\tin quotes, and optional position/layout "
     "information.\n",
     nullptr},
    {"KeyboardWithoutLayoutName",
     "Section \"Keyboard\"\n XkbLayout\nEndSection\n",
     "Parse error on line 3 of section Keyboard in file FILE\n\tThe XKBLayout keyword requires a "
     "quoted string to follow it.\n",
     "the server's newer grammar has no Keyboard section"},
    {"PointerButtonsWithoutNumber", "Section \"Pointer\"\n Buttons \"five\"\nEndSection\n",
     "Parse error on line 2 of section Pointer in file FILE\n\tThe Buttons keyword requires a "
     "positive integer to follow it.\n",
     "the server's newer grammar has no Pointer section"},
    {"DriGroupWithoutValue", "Section \"DRI\"\n Group\nEndSection\n",
     "Parse error on line 3 of section DRI in file FILE\n\tThe Group keyword must be followed by "
     "either a group name in quotes or\n\ta numerical group id.\n",
     nullptr},
    {"DeviceWithoutDriver", "Section \"Device\"\n Identifier \"d\"\nEndSection\n",
     "Data incomplete in file FILE\n\tDevice section \"d\" must have a Driver line.\n",
     "the server does not require a Driver line in a Device section"},
    {"InputWithoutDriver", "Section \"InputDevice\"\n Identifier \"k\"\nEndSection\n",
     "Data incomplete in file FILE\n\tInputDevice section \"k\" must have a Driver line.\n",
     nullptr},
    {"ScreenWithUndefinedDevice",
     "Section \"Screen\"\n Identifier \"s\"\n Device \"nothere\"\nEndSection\n",
     "Data incomplete in file FILE\n\tUndefined Device \"nothere\" referenced by Screen \"s\".\n",
     "the server accepts a Screen whose Device is not defined"},
    {"LayoutWithUndefinedScreen",
     "Section \"ServerLayout\"\n Identifier \"l\"\n Screen \"nothere\"\nEndSection\n",
     "Data incomplete in file FILE\n\tUndefined Screen \"nothere\" referenced by ServerLayout "
     "\"l\".\n",
     nullptr},
    {"MonitorWithUndefinedModes",
     DEV_OK "Section \"Monitor\"\n Identifier \"m\"\n UseModes \"nothere\"\nEndSection\n"
     "Section \"Screen\"\n Identifier \"s\"\n Device \"d\"\n Monitor \"m\"\nEndSection\n",
     "Data incomplete in file FILE\n\tUndefined Modes Section \"nothere\" referenced by Monitor "
     "\"m\".\n",
     "the server refuses it too but names the Screen where the Monitor belongs"},
    {"AdaptorOfTwoScreens",
     DEV_OK "Section \"VideoAdaptor\"\n Identifier \"v\"\nEndSection\n"
     "Section \"Screen\"\n Identifier \"s1\"\n Device \"d\"\n VideoAdaptor \"v\"\nEndSection\n"
     "Section \"Screen\"\n Identifier \"s2\"\n Device \"d\"\n VideoAdaptor \"v\"\nEndSection\n",
     "Data incomplete in file FILE\n\tVideoAdaptor \"v\" already referenced by Screen \"s1\".\n",
     nullptr},
};

#undef DEV_OK

}  // namespace toolcfg_test
