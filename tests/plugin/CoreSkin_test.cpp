// The skin reader: ROM.XML texts read into the record (from folders and from containers), bad input
// read as the defaults, the ways a skin path is given, and the image-name filters.
#include "plugin/CoreSkin.h"

#include "base/CoreAnsx.h"
#include "base/CorePool.h"
#include "filestore/CoreFsys.h"
#include "tests/common/LogCapture.h"
#include "tests/common/TempFolder.h"
#include "tests/plugin/SkinText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using skintest::changedLines;
using skintest::skinText;

class CoreSkinTest : public TempFolderTest {
protected:
    std::string read(const std::string& path, CoreFsys* reader = nullptr) {
        CoreSkin skin(&pool, CoreAnsx(path.c_str()), reader);
        return skinText(*skin.getsk());
    }
    std::string defaults() {
        static const std::string text = [this] { return read((root / "nothing").string()); }();
        return text;
    }
    CorePool pool;
};

std::string tag(const std::string& name, const std::string& content) {
    return "<" + name + ">" + content + "</" + name + ">";
}

// Rows: a ROM.XML text and the lines of the record's text that differ from the defaults.
TEST_F(CoreSkinTest, ReadsRomXmlFromFoldersAndContainers) {
    std::string manyLeds, manyText;
    for (int k = 1; k <= 20; ++k) {
        manyLeds += tag("LED" + std::to_string(k), tag("LEDY", std::to_string(k)));
        manyText += "NULL@0," + std::to_string(k) + ":-1;";
    }
    struct Row {
        const char* name;
        std::string rom;
        std::string changed;
    };
    const Row rows[] = {
        {"values of 0 are absent",
         "<SKIN><GLOBAL><DISPLAYX>0</DISPLAYX><DISPLAYY>7</DISPLAYY></GLOBAL><SLIDERS><MIX1><KNOBMODE>0</"
         "KNOBMODE>"
         "</MIX1></SLIDERS><SETUP><PROGRAM1><SEQUENCE>0</SEQUENCE><BUTTON>b.png</BUTTON></PROGRAM1></SETUP></"
         "SKIN>",
         "display set=0 at=-1,7 margins=-1,-1,-1,-1 add=-1,-1 chars=-1 addmargins=-1,-1,-1,-1\n"
         "global background=NULL\nsliders\nslot 0 slider=NULL knob=0 rect=0,0,0,0 height=0\nsetup\n"
         "button 0 sequence=-1 button=b.png@0,0 led=NULL@0,0\n"},
        {"font sets without names or layers",
         "<SKIN><FONTS><ELEMENT><FONT2>big.png</FONT2></ELEMENT><ELEMENT><FONTNAME> Amber </FONTNAME>"
         "<FONT1>a1.png</FONT1><FONTNEG>an.png</FONTNEG></ELEMENT></FONTS></SKIN>",
         "fonts 2\nfont 0 fontname=NULL name=Vorlan Classic layers=NULL|NULL|big.png|\n"
         "font 1 fontname=Amber name=Vorlan Classic layers=a1.png|an.png|NULL|\n"},
        {"three font sets among other children",
         "<SKIN><FONTS><COMMENT>x</COMMENT><ELEMENT><FONTNAME>A</FONTNAME></ELEMENT><element><FONTNAME>B</"
         "FONTNAME>"
         "</element><OTHER><ELEMENT><FONTNAME>Z</FONTNAME></ELEMENT></OTHER><ELEMENT><FONTNAME>C</FONTNAME>"
         "</ELEMENT></FONTS></SKIN>",
         "fonts 3\nfont 0 fontname=A name=Vorlan Classic layers=NULL|NULL|NULL|\n"
         "font 1 fontname=B name=Vorlan Classic layers=NULL|NULL|NULL|\n"
         "font 2 fontname=C name=Vorlan Classic layers=NULL|NULL|NULL|\n"},
        {"slot readouts replace the add area",
         "<SKIN><GLOBAL><DISPLAYX>100</DISPLAYX><DISPLAYADDX>5</DISPLAYADDX><DISPLAYADDY>6</DISPLAYADDY>"
         "<DISPLAYADDTOP>7</DISPLAYADDTOP><DISPLAYADDBOTTOM>8</DISPLAYADDBOTTOM><DISPLAYADDCHARS>3</"
         "DISPLAYADDCHARS>"
         "</GLOBAL><SLIDERS><MIX1><DISPLAYADDCHARS>8</DISPLAYADDCHARS><DISPLAYADDX>10</"
         "DISPLAYADDX><DISPLAYADDY>20"
         "</DISPLAYADDY></MIX1><GAINOUT><DISPLAYADDCHARS>10</DISPLAYADDCHARS></GAINOUT></SLIDERS></SKIN>",
         "display set=1 at=100,-1 margins=-1,-1,-1,-1 add=-1,-1 chars=18 addmargins=7,-1,-1,-1\n"
         "global background=NULL\nsliders\nslot 0 slider=NULL knob=0 rect=0,0,0,0 height=0 add=0..8 "
         "at=10,20\n"
         "slot 9 slider=NULL knob=0 rect=0,0,0,0 height=0 add=8..18 at=-1,-1\n"},
        {"a knob with an LED pair; LED positions without LEDTOP are not read",
         "<SKIN><SLIDERS><MIX3><SLIDER>k.png</SLIDER><KNOBMODE>2</KNOBMODE><SLIDERMINX>1</"
         "SLIDERMINX><SLIDERMINY>2"
         "</SLIDERMINY><SLIDERMAXX>3</SLIDERMAXX><SLIDERMAXY>4</SLIDERMAXY><SLIDERHEIGHT>5</"
         "SLIDERHEIGHT><LEDTOP>"
         "t.png</LEDTOP><LEDTOPX>6</LEDTOPX><LEDBOTTOMY>7</LEDBOTTOMY></MIX3><GAININ><LEDTOPX>5</LEDTOPX></"
         "GAININ>"
         "</SLIDERS></SKIN>",
         "sliders\nslot 2 slider=k.png knob=1 rect=1,2,3,4 height=5 leds=t.png@6,0 NULL@0,7\n"
         "slot 8 slider=NULL knob=0 rect=0,0,0,0 height=0\n"},
        {"meters: LEDs up to the first gap, at least 12",
         "<SKIN><METERS><METER1><LED1><LED>a.png</LED><LEDX>3</LEDX></LED1><LED2><LEDDB>-6</LEDDB></"
         "LED2><LED4><LED>"
         "x</LED></LED4></METER1><METER3>" +
             manyLeds + "</METER3></METERS></SKIN>",
         "meters group=0 absent2=1 absent4=1\nmeter 0 db=1 count=12 leds=a.png@3,0:-1;NULL@0,0:-6;\n"
         "meter 2 db=0 count=20 leds=" +
             manyText + "\n"},
        {"group mode, meters 2 and 4 present",
         "<SKIN><METERS><GROUPMODE>1</GROUPMODE><METER2></METER2><METER4><LED1><LEDDB>0.5</LEDDB></LED1></"
         "METER4>"
         "</METERS></SKIN>",
         "meters group=1 absent2=0 absent4=0\nmeter 1 db=0 count=12 leds=\nmeter 3 db=1 count=12 "
         "leds=NULL@0,0:0.5;\n"},
        {"pads: exact MIX names and map points",
         "<SKIN><SLIDERS><PADXY1><SLIDER>h.png</SLIDER><SLIDERMINX>1</SLIDERMINX><SLIDERMAXY>9</"
         "SLIDERMAXY><CONTROLX>"
         "mix1</CONTROLX><CONTROLY> MIX2 </CONTROLY></PADXY1><PADXY2><CONTROLX>MIX9</CONTROLX><CONTROLY>MIX1"
         "</CONTROLY><MAP><CONTROLX>MIX3</CONTROLX><CONTROLY>mix1</CONTROLY><MAP><SLIDERMINX>5</"
         "SLIDERMINX><SLIDERMINY>"
         "6</SLIDERMINY><CONTROLX>0.25</CONTROLX><CONTROLY>0.75</CONTROLY></MAP><map><SLIDERMINX>99</"
         "SLIDERMINX></map>"
         "<MAP><SLIDERMINX>7</SLIDERMINX></MAP></MAP></PADXY2></SLIDERS></SKIN>",
         "sliders\npad 0 bitmap=h.png rect=1,0,0,9 control=-1,1\n"
         "pad 1 bitmap=NULL rect=0,0,0,0 control=-1,0 map=2,-1 points=5,6,0.25,0.75;7,0,0,0;\n"},
        {"names in any case with blanks, the last sibling, truncation and saturation",
         "<skin><Global ><DisplayX>12.7</DisplayX><DISPLAYY>99999999999</DISPLAYY><DISPLAYTOP>-99999999999"
         "</DISPLAYTOP><DISPLAYLEFT>1</DISPLAYLEFT><displayleft>2</displayleft><background> bg.png "
         "</background>"
         "</Global ><SETUP><PROGRAM1><SEQUENCE>2</SEQUENCE></PROGRAM1></SETUP><SETUP><program2><SEQUENCE>3.9"
         "</SEQUENCE></program2></SETUP></skin>",
         "display set=1 at=12,2147483647 margins=-2147483648,-1,2,-1 add=-1,-1 chars=-1 "
         "addmargins=-1,-1,-1,-1\n"
         "global background=bg.png\nsetup\nbutton 1 sequence=3 button=NULL@0,0 led=NULL@0,0\n"},
        {"an overflow LED named NULL is not given",
         "<SKIN><GLOBAL><LEDOVERFLOW><LED>NULL</LED><LEDX>5</LEDX><FRAMES>3</FRAMES></"
         "LEDOVERFLOW><LEDBYPASS><LED>"
         "b.png</LED><LEDX>3</LEDX><LEDOFF>o.png</LEDOFF><LEDOFFY>9</LEDOFFY></LEDBYPASS></GLOBAL></SKIN>",
         "display set=0 at=-1,-1 margins=-1,-1,-1,-1 add=-1,-1 chars=-1 addmargins=-1,-1,-1,-1\n"
         "global background=NULL\nbypass 1 on=b.png at=3,0 frames=-1 off=o.png at=0,9\n"},
        // Bad input: the defaults with the one built-in font set.
        {"text that is not XML", "hello, world", ""},
        {"a root without SKIN", "<ROOT2><GLOBAL><DISPLAYX>5</DISPLAYX></GLOBAL></ROOT2>", ""},
        {"SKIN only as a value", "<A>SKIN</A>", ""},
        {"an empty ROM.XML", "", ""},
        {"binary bytes", std::string("\x00\x01\xff<\x80>\x00</SKIN>\x1b", 13), ""},
        {"a closing tag without an opening one",
         "</GLOBAL><SKIN><GLOBAL><DISPLAYX>5</DISPLAYX></GLOBAL></SKIN>", ""},
    };
    ASSERT_EQ(defaults(),
              "fonts 1\nfont 0 fontname=Vorlan Classic name=Vorlan Classic layers=NULL|NULL|NULL|\n"
              "display set=1 at=-1,-1 margins=-1,-1,-1,-1 add=-1,-1 chars=-1 addmargins=-1,-1,-1,-1\n"
              "overflow 0 on=NULL at=-1,-1 frames=-1 off=NULL at=-1,-1\n"
              "bypass 0 on=NULL at=-1,-1 frames=-1 off=NULL at=-1,-1\n");
    int index = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        LogCapture log(1);
        const std::string name = "s" + std::to_string(index++);
        const std::string folder = skintest::writeFolder(root / name, {{"ROM.XML", row.rom}});
        ASSERT_TRUE(skintest::writeContainer(root / (name + ".q7s"), {{"ROM.XML", row.rom}}));
        const std::string fromFolder = read(folder);
        EXPECT_EQ(changedLines(fromFolder, defaults()), row.changed);
        EXPECT_EQ(read((root / (name + ".q7s")).string()), fromFolder);
        if (row.changed.empty()) {
            EXPECT_NE(log.text().find("no skin description found"), std::string::npos);
        }
    }
}

TEST_F(CoreSkinTest, ReadsTheSameSkinWhicheverWayThePathNamesIt) {
    const std::string rom =
        "<SKIN><GLOBAL><DISPLAYX>9</DISPLAYX><BACKGROUND>bg.png</BACKGROUND></GLOBAL></SKIN>";
    skintest::writeFolder(root / "data/skins/Sk", {{"ROM.XML", rom}});
    skintest::writeFolder(root / "data/skins/lower", {{"rom.xml", rom}});
    ASSERT_TRUE(skintest::writeContainer(root / "data/skins/sk.q7s", {{"ROM.XML", rom}}));
    const std::string want = read((root / "data/skins/Sk").string());
    EXPECT_NE(changedLines(want, defaults()), "");
    CoreFsys master(&pool, CoreAnsx((root / "data/").string().c_str()), false);
    CoreFsys elsewhere(&pool, CoreAnsx((root / "data/skins/Sk/").string().c_str()), false);
    const struct {
        const char* name;
        std::string path;
        CoreFsys* reader;
    } rows[] = {
        {"a trailing '/'", (root / "data/skins/Sk/").string(), nullptr},
        {"ROM.XML named rom.xml", (root / "data/skins/lower").string(), nullptr},
        {"a container", (root / "data/skins/sk.q7s").string(), nullptr},
        {"a container named in another case", (root / "data/skins/SK.Q7S").string(), nullptr},
        {"a container through the master store", (root / "data/skins/sk.q7s").string(), &master},
        {"a container outside the master store's folder", (root / "data/skins/sk.q7s").string(), &elsewhere},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(read(row.path, row.reader), want);
    }
    for (const char* path : {"data/skins/Sk", "data/skins/Sk/"}) {
        CoreSkin skin(&pool, at(path), nullptr);
        EXPECT_EQ(skin.getdr(), at("data/skins/Sk/"));
    }
}

TEST_F(CoreSkinTest, UnreadableSkinsGiveTheDefaults) {
    skintest::writeFolder(root / "empty", {});
    skintest::writeFolder(root, {{"fake.q7s", "<SKIN><GLOBAL></GLOBAL></SKIN>"}});
    const struct {
        const char* name;
        std::string path;
        const char* logged;
    } rows[] = {
        {"a folder without ROM.XML", (root / "empty").string(), "no skin description found"},
        {"a .q7s that is no container", (root / "fake.q7s").string(), "not a container"},
        {"a path to nothing", (root / "nothing/at/all").string(), "no skin description found"},
        {"an empty path", "", "no skin description found"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LogCapture log(1);
        EXPECT_EQ(read(row.path), defaults());
        EXPECT_NE(log.text().find(row.logged), std::string::npos) << log.text();
    }
}

TEST_F(CoreSkinTest, FiltersImageNamesAndKeepsItsStoreUntilClosed) {
    skintest::writeFolder(root / "s",
                          {{"ROM.XML", "<SKIN><FONTS><ELEMENT><FONT1>f1.png</FONT1></ELEMENT><ELEMENT>"
                                       "<FONTNEG>n.png</FONTNEG></ELEMENT></FONTS></SKIN>"}});
    CoreSkin skin(&pool, at("s"), nullptr);
    EXPECT_EQ(CoreSkin::getfn(CoreAnsx("NULL")), CoreAnsx("0"));
    EXPECT_EQ(CoreSkin::getfn(CoreAnsx("null")), CoreAnsx("null"));
    EXPECT_EQ(CoreSkin::getfn(CoreAnsx("a.png")), CoreAnsx("a.png"));
    const struct {
        int16_t set, layer;
        const char* name;
    } rows[] = {
        {0, 0, "f1.png"}, {0, 1, "0"}, {1, 1, "n.png"}, {1, 2, "0"}, {0, 3, ""},      {1, 3, ""},
        {-1, 0, "0"},     {2, 0, "0"}, {0, -1, "0"},    {0, 4, "0"}, {32767, 0, "0"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.set) + "/" + std::to_string(row.layer));
        EXPECT_EQ(skin.getfn(row.set, row.layer), CoreAnsx(row.name));
    }
    ASSERT_NE(skin.getfs(), nullptr);
    EXPECT_EQ(skin.getfs()->getdt(), at("s/"));
    skin.clsfs();
    EXPECT_EQ(skin.getfs(), nullptr);
    skin.clsfs();
    EXPECT_EQ(skin.getfs(), nullptr);
    EXPECT_EQ(skin.getsk()->fontsets, 2); // the record outlives the store
}

} // namespace
