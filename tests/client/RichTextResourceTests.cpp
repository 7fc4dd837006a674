#include <gtest/gtest.h>

#include <windows.h>
#include <richedit.h>

#include <cstring>
#include <string>
#include <vector>

#include "ClientTestSupport.h"
#include "client/ProgramInfo.h"
#include "client/RichTextView.h"
#include "client/TemplateValues.h"

using namespace quenvar;
using namespace quenvar::testing;

// The document ids and texts are written out here from the window
// descriptions, not taken from ResourceIds.h or the documents, so that a wrong
// id or a changed word fails.
namespace {

const wchar_t* const kScreenAccessMoreInfo[] = {
    L"MODERATE PRIVACY RISK",
    L"If you have any doubts about the program that is trying to read your screen then DO NOT give it permission "
      L"to do so.  Be sure that you recognize this program and that it needs to read your screen.",
    L"Should I allow this program to read my screen?",
    L"If you want to be sure that your privacy is always protected, you should never allow screen access to any "
      L"program.",
    L"If you view information that you don't want others to see (i.e. pictures, e-mails, private chats and "
      L"documents) then you should not allow this program to read your screen.",
    L"Our advice is to allow this program to read your screen only if all of the following are true:",
    L"1.  You have reviewed all of the \"Program Details\" at the top of this window.",
    L"2.  You are sure that the program file name is true and correct for the named program.",
    L"3.  You know that the program needs to read your screen.",
    L"When does a Spy Program read the screen?",
    L"It is very common for spy programs to take pictures of the screen.  This allows a spy program operator to "
      L"see what you see.  Usually, a spy program will allow the user to play back all of a watched machine's "
      L"activity.  Basically, these programs will make a movie of your screen activity which is very dangerous to "
      L"your privacy.",
    L"When does a harmless program read the screen?",
    L"Some programs will read your screen from time to time.  This is most likely to happen while playing a "
      L"computer game.  However, some Windows programs will read your screen to draw fancy fading effects on menus "
      L"and other controls.  The worst thing that can happen to a harmless program if you deny access is that it "
      L"may not display some special effects properly.",
    L"MODERATE PRIVACY RISK",
    L"If you have any doubts about the program that is trying to read your screen then DO NOT give it permission "
      L"to do so.  Be sure that you recognize this program and that it needs to read your screen.",
};
const wchar_t* const kKeyboardHookMoreInfo[] = {
    L"EXTREME PRIVACY RISK",
    L"If you have any doubts about the program that is trying to install this keyboard hook then DO NOT give it "
      L"permission to do so.  Be absolutely sure that you recognize this program and that you expect it to watch "
      L"your keyboard.",
    L"Should I allow this program to install a \"Keyboard Hook\"?",
    L"If you want to be sure that your privacy is always protected, you should never allow keyboard hook access "
      L"to any program.",
    L"Only allow this program to install a keyboard hook if all of the following are true:",
    L"1.  You have reviewed all of the \"Program Details\" at the top of this window.",
    L"2.  You are sure that the program file name is true and correct for the named program.",
    L"3.  You recognize the program as needing to have special need to be informed of every key you press.",
    L"What is a \"Keyboard Hook\"?",
    L"A keyboard hook is a way for a program to be notified every time you press a key.  If you allow a program "
      L"to install a keyboard hook then each and every key that you press will be sent to it.",
    L"How do \"Keyboard Hooks\" work?",
    L"Keyboard hooks work by forcing all programs that run on your machine to load special instructions into them "
      L"that are provided by the hook-installing program.  Some of these instructions are executed whenever you "
      L"press a key on your keyboard.  However, the special instructions do not have to be limited to just "
      L"responding to your keyboard.  This makes keyboard hooks extremely dangerous to your privacy because there "
      L"is no limitation to what these special instructions can be made to do.",
    L"When does a Spy Program use a \"Keyboard Hook\"?",
    L"It is very common for spy programs to use keyboard hooks to watch your keyboard.  In fact, a keyboard hook "
      L"is the only reliable way to be informed each and every time you press a key.  Spy programs can also use "
      L"keyboard hooks to install screen-capture instructions in every program that runs on your computer.  This is "
      L"why you should be extremely careful when deciding what programs should be allowed to install keyboard hooks.",
    L"When does a harmless program use a \"Keyboard Hook\"?",
    L"Some programs that provide hot-key support will install a keyboard hook to detect when you press a special "
      L"combination of keys.  A hot-key is a special combination of key presses that cause a program to do "
      L"something.  If you know that the program described above provides hot-key support then it may be safe to "
      L"allow it to watch your keyboard.  However, only give it access to your keyboard if you actually use the "
      L"hot-keys.",
    L"We\x2019" L"ve also found that some firewall and anti-Trojan software also installs keyboard hooks to track all "
      L"programs running on your computer.  While this is true, you always want to be sure that you can trust a "
      L"program that you give keyboard hook access to.",
    L"EXTREME PRIVACY RISK",
    L"If you have any doubts about the program that is trying to install this keyboard hook then DO NOT give it "
      L"permission to do so.  Be absolutely sure that you recognize this program and that you expect it to watch "
      L"your keyboard.",
};
const wchar_t* const kWindowTextMoreInfo[] = {
    L"EXTREME PRIVACY RISK",
    L"If you have any doubts about the program trying to read from an unowned window then DO NOT give it "
      L"permission to do so.  Be absolutely sure that you recognize this program and that you expect it to read "
      L"text from unowned windows.",
    L"Should I allow this program to read from an unowned window?",
    L"If you want to be sure that your privacy is always protected, you should never allow unowned window read "
      L"access to any program.",
    L"Only allow this program to read from unowned windows if all of the following are true:",
    L"1.  You have reviewed all of the \"Program Details\" at the top of this window.",
    L"2.  You are sure that the program file name is true and correct for the named program.",
    L"3.  You know that the program needs to read text from unowned windows.",
    L"What is an \"Unowned Window Read\"?",
    L"Each window on your desktop belongs to the program that created it.  Normally, programs only read text from "
      L"windows that they created.  An unowned window read occurs when a program tries to read text from a window "
      L"that it does not own.  If you allow a program to read from unowned windows then all text that you view may "
      L"be read by the program at any time.",
    L"When does a Spy Program use an \"Unowned Window Read\"?",
    L"It is very common for spy programs to read text from unowned windows.  This allows the spy program to "
      L"capture chat conversations, e-mail messages and other sensitive text without having to take a picture of "
      L"your entire screen.",
    L"When does a harmless program use an \"Unowned Window Read\"?",
    L"Very few programs have an honest need to read text from unowned windows.  Be very careful when deciding to "
      L"give access to a program.",
    L"EXTREME PRIVACY RISK",
    L"If you have any doubts about the program trying to read from an unowned window then DO NOT give it "
      L"permission to do so.  Be absolutely sure that you recognize this program and that you expect it to read "
      L"text from unowned windows.",
};

struct PromptDocument {
    int id;
    const wchar_t* heading;
    const wchar_t* riskLine;
    const wchar_t* allowParagraph;
    const wchar_t* moreParagraph;
};

const PromptDocument kPrompts[] = {
    {110, L"Unauthorized Screen Access", L"MODERATE PRIVACY RISK",
     L"The program named above is trying to read your screen.  This may be a spy program trying to take a snapshot "
     L"of your screen.  If you want to allow this program to read your screen, you should click the 'Allow Access' "
     L"button below.",
     L"If you're not sure that you want to allow this program to read your screen, you can get more information by "
     L"clicking the 'More Information' button below."},
    {118, L"Unauthorized Keyboard Hook", L"EXTREME PRIVACY RISK -- Use Extreme Caution",
     L"The program named above is trying to hook your keyboard.  If you allow this, the program will be able to "
     L"watch every key you press.  If you want to allow this program to watch every key you press, you should click "
     L"the 'Allow Access' button below.",
     L"If you're not sure that you want to allow this program to watch your keyboard, you can get more information "
     L"by clicking the 'More Information' button below."},
    {146, L"Unowned  Window Read", L"EXTREME PRIVACY RISK -- Use Extreme Caution",
     L"The program named above is trying to read text from a window it does not own.  If you allow this, the "
     L"program will be able to read sensitive text from any window at any time.  If you want to allow this program "
     L"to read text from your windows, you should click the 'Allow Access' button below.",
     L"If you're not sure that you want to allow this program to read text from your windows, you can get more "
     L"information by clicking the 'More Information' button below."},
};

struct ItemDocument {
    int id;
    const char* placeholder;
};

const ItemDocument kItems[] = {
    {138, "%progpath%"},   {137, "%progname%"},       {136, "%progdescription%"}, {126, "%progversion%"},
    {135, "%progcompany%"}, {139, "%productcopyright%"}, {140, "%productname%"},     {141, "%productversion%"},
};

const int kMoreInfoIds[] = {115, 119, 147};

std::vector<std::wstring> MoreInfoParagraphs(int id) {
    switch (id) {
    case 115: return {std::begin(kScreenAccessMoreInfo), std::end(kScreenAccessMoreInfo)};
    case 119: return {std::begin(kKeyboardHookMoreInfo), std::end(kKeyboardHookMoreInfo)};
    default: return {std::begin(kWindowTextMoreInfo), std::end(kWindowTextMoreInfo)};
    }
}

// The raw bytes of a "BINARYRTF" resource of this program; empty if missing.
std::string ResourceBytes(int id) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), L"BINARYRTF");
    if (found == nullptr) return {};
    const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
    return data == nullptr ? std::string() : std::string(data, SizeofResource(module, found));
}

std::vector<int> AllDocumentIds() {
    std::vector<int> ids = {110, 118, 146, 115, 119, 147};
    for (const ItemDocument& item : kItems) ids.push_back(item.id);
    return ids;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

// The character and paragraph format of the first character of `what` (of its
// last occurrence if `last`) in the control.
struct CharacterFormat {
    bool found = false;
    bool bold = false, italic = false, underline = false;
    COLORREF colour = 0;
    bool autoColour = false;
    LONG twips = 0;
    std::wstring face;
    WORD alignment = 0;
};

CharacterFormat FormatOf(HWND control, const std::wstring& what, bool last = false) {
    CharacterFormat result;
    const std::wstring text = RichText(control);
    const size_t at = last ? text.rfind(what) : text.find(what);
    if (at == std::wstring::npos) return result;
    result.found = true;
    SendMessageW(control, EM_SETSEL, at, at + 1);
    CHARFORMAT2W format = {};
    format.cbSize = sizeof format;
    SendMessageW(control, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    result.bold = (format.dwEffects & CFE_BOLD) != 0;
    result.italic = (format.dwEffects & CFE_ITALIC) != 0;
    result.underline = (format.dwEffects & CFE_UNDERLINE) != 0;
    result.autoColour = (format.dwEffects & CFE_AUTOCOLOR) != 0;
    result.colour = format.crTextColor;
    result.twips = format.yHeight;
    result.face = format.szFaceName;
    PARAFORMAT2 paragraph = {};
    paragraph.cbSize = sizeof paragraph;
    SendMessageW(control, EM_GETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&paragraph));
    result.alignment = paragraph.wAlignment;
    return result;
}

constexpr COLORREF kTeal = RGB(0, 128, 128);
constexpr COLORREF kRed = RGB(255, 0, 0);

TemplateValues FullFixtureValues() {
    TemplateValues values;
    FillTemplateValues(ProgramInfo(FixturePath(L"QuenvarFixtureFull.dll")), values);
    return values;
}

}  // namespace

TEST(RichTextResourceTest, EveryDocumentIsAsciiRtfEndingWithOneZeroByte) {
    for (int id : AllDocumentIds()) {
        SCOPED_TRACE(id);
        const std::string bytes = ResourceBytes(id);
        ASSERT_GE(bytes.size(), 8u) << "missing or empty";
        EXPECT_EQ(bytes.compare(0, 6, "{\\rtf1"), 0);
        EXPECT_EQ(bytes.back(), '\0');
        EXPECT_EQ(bytes.find('\0'), bytes.size() - 1) << "a zero byte before the end";
        EXPECT_EQ(bytes[bytes.size() - 2], '}');
        for (unsigned char c : bytes.substr(0, bytes.size() - 1))
            ASSERT_TRUE((c >= 0x20 && c <= 0x7e) || c == '\t' || c == '\r' || c == '\n') << int(c);
    }
}

TEST(RichTextResourceTest, DocumentsHoldTheirPlaceholders) {
    for (const PromptDocument& prompt : kPrompts) {
        SCOPED_TRACE(prompt.id);
        const std::string bytes = ResourceBytes(prompt.id);
        EXPECT_EQ(Count(bytes, "\"%progname%\""), 1u);
        EXPECT_EQ(Count(bytes, "\"%progpath%\""), 1u);
        EXPECT_EQ(Count(bytes, "%"), 4u);
    }
    for (int id : kMoreInfoIds) EXPECT_EQ(Count(ResourceBytes(id), "%"), 0u) << id;
    for (const ItemDocument& item : kItems) {
        SCOPED_TRACE(item.id);
        const std::string bytes = ResourceBytes(item.id);
        EXPECT_EQ(Count(bytes, item.placeholder), 1u);
        EXPECT_EQ(Count(bytes, "%"), 2u);
        EXPECT_NE(bytes.find("Microsoft Sans Serif"), std::string::npos);
    }
}

TEST(RichTextResourceTest, MoreInformationTextsReadParagraphByParagraph) {
    ScratchRichEdit edit;
    ASSERT_NE(edit.control, nullptr);
    RichTextView view(edit.control);
    for (int id : kMoreInfoIds) {
        SCOPED_TRACE(id);
        view.ShowResource(id, TemplateValues{});
        const std::vector<std::wstring> expected = MoreInfoParagraphs(id);
        const std::vector<std::wstring> shown = Paragraphs(RichText(edit.control));
        ASSERT_EQ(shown.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(shown[i], expected[i]) << "paragraph " << i + 1;
    }
}

TEST(RichTextResourceTest, MoreInformationTextsCarryBannerWarningAndHeadings) {
    ScratchRichEdit edit;
    RichTextView view(edit.control);
    for (int id : kMoreInfoIds) {
        SCOPED_TRACE(id);
        view.ShowResource(id, TemplateValues{});
        const std::vector<std::wstring> paragraphs = MoreInfoParagraphs(id);
        const CharacterFormat banner = FormatOf(edit.control, paragraphs[0]);
        ASSERT_TRUE(banner.found);
        EXPECT_TRUE(banner.bold && banner.underline);
        EXPECT_EQ(banner.twips, 200);
        EXPECT_EQ(banner.alignment, PFA_CENTER);
        EXPECT_EQ(banner.colour, id == 115 ? kTeal : kRed);
        EXPECT_EQ(banner.face, L"Arial");

        // Opening and closing warning alike.
        for (bool last : {false, true}) {
            const CharacterFormat warning = FormatOf(edit.control, L"If you have any doubts", last);
            EXPECT_TRUE(warning.italic);
            EXPECT_FALSE(warning.bold);
            EXPECT_EQ(warning.alignment, PFA_CENTER);
        }
        const CharacterFormat doNot = FormatOf(edit.control, L"DO NOT");
        EXPECT_TRUE(doNot.bold && doNot.italic);

        const CharacterFormat heading = FormatOf(edit.control, paragraphs[2]);
        EXPECT_TRUE(heading.bold && heading.underline);
        EXPECT_FALSE(heading.italic);

        const CharacterFormat redLine = FormatOf(edit.control, paragraphs[3]);
        EXPECT_TRUE(redLine.italic);
        EXPECT_FALSE(redLine.autoColour);
        EXPECT_EQ(redLine.colour, kRed);

        const CharacterFormat point = FormatOf(edit.control, L"1.  You have reviewed");
        EXPECT_FALSE(point.bold || point.italic || point.underline);

        // The closing banner, the paragraph before the last.
        const CharacterFormat closing = FormatOf(edit.control, paragraphs[0], true);
        EXPECT_TRUE(closing.bold && closing.underline);
        EXPECT_EQ(closing.alignment, PFA_CENTER);
        EXPECT_EQ(closing.colour, banner.colour);
        EXPECT_EQ(closing.twips, 200);
    }
}

TEST(RichTextResourceTest, PromptTextsNameTheProgramBetweenQuotes) {
    ScratchRichEdit edit;
    RichTextView view(edit.control);
    const TemplateValues values = FullFixtureValues();
    const std::wstring path = FixturePath(L"QuenvarFixtureFull.dll");
    for (const PromptDocument& prompt : kPrompts) {
        SCOPED_TRACE(prompt.id);
        view.ShowResource(prompt.id, values);
        const std::vector<std::wstring> expected = {
            prompt.heading,
            prompt.riskLine,
            L"Program Name: \"Snoop Screen Grabber\"",
            L"Program Path\t: \"" + path + L"\"",
            prompt.allowParagraph,
            prompt.moreParagraph,
        };
        EXPECT_EQ(Paragraphs(RichText(edit.control)), expected);
    }
}

TEST(RichTextResourceTest, PromptTextsCarryTheirEmphasis) {
    ScratchRichEdit edit;
    RichTextView view(edit.control);
    const TemplateValues values = FullFixtureValues();
    for (const PromptDocument& prompt : kPrompts) {
        SCOPED_TRACE(prompt.id);
        view.ShowResource(prompt.id, values);
        const CharacterFormat heading = FormatOf(edit.control, prompt.heading);
        ASSERT_TRUE(heading.found);
        EXPECT_TRUE(heading.bold && heading.underline);
        EXPECT_EQ(heading.twips, 280);
        EXPECT_EQ(heading.alignment, PFA_CENTER);
        EXPECT_EQ(heading.face, L"Arial");

        const CharacterFormat risk = FormatOf(edit.control, prompt.riskLine);
        EXPECT_TRUE(risk.italic);
        EXPECT_EQ(risk.twips, 200);
        EXPECT_EQ(risk.colour, prompt.id == 110 ? kTeal : kRed);
        EXPECT_EQ(risk.bold, prompt.id != 110);
        if (prompt.id != 110) {
            const CharacterFormat use = FormatOf(edit.control, L"Use ");
            EXPECT_FALSE(use.bold || use.underline);
            EXPECT_TRUE(use.italic);
            EXPECT_EQ(use.colour, kRed);
            EXPECT_TRUE(FormatOf(edit.control, L"Extreme C").underline);
            EXPECT_FALSE(FormatOf(edit.control, L"Caution").underline);
        }

        const CharacterFormat name = FormatOf(edit.control, L"Program Name");
        EXPECT_TRUE(name.bold);
        EXPECT_EQ(name.alignment, PFA_LEFT);
        EXPECT_EQ(name.twips, 200);
        EXPECT_TRUE(FormatOf(edit.control, L"Snoop Screen").bold);
        EXPECT_TRUE(FormatOf(edit.control, L"Program Path").bold);

        // The two paragraphs are 9 pt, so that a path over two lines still fits.
        const CharacterFormat body = FormatOf(edit.control, L"The program named above");
        EXPECT_FALSE(body.bold || body.italic || body.underline);
        EXPECT_EQ(body.twips, 180);
        EXPECT_EQ(body.alignment, PFA_LEFT);
        EXPECT_TRUE(FormatOf(edit.control, L"Allow Access'").bold);
        EXPECT_FALSE(FormatOf(edit.control, L"' button below.").bold);
        EXPECT_TRUE(FormatOf(edit.control, L"More Information'").bold);
    }
}

TEST(RichTextResourceTest, ItemTextsShowExactlyTheirValueInSmallSansSerif) {
    ScratchRichEdit edit;
    RichTextView view(edit.control);
    const TemplateValues values = FullFixtureValues();
    const ProgramInfo info(FixturePath(L"QuenvarFixtureFull.dll"));
    const std::wstring expected[] = {info.path,        info.displayName,    info.comments,    info.fileVersion,
                                     info.companyName, info.legalCopyright, info.productName, info.productVersion};
    for (size_t i = 0; i < std::size(kItems); ++i) {
        SCOPED_TRACE(kItems[i].id);
        view.ShowResource(kItems[i].id, values);
        EXPECT_EQ(RichText(edit.control), expected[i]);
        const CharacterFormat format = FormatOf(edit.control, expected[i].substr(0, 1));
        EXPECT_EQ(format.face, L"Microsoft Sans Serif");
        EXPECT_EQ(format.twips, 160);
    }
}

TEST(RichTextViewTest, AViewWithoutControlAndAMissingResourceChangeNothing) {
    RichTextView none(nullptr);
    none.ShowResource(110, TemplateValues{});
    none.ShowText("{\\rtf1 x}", TemplateValues{});

    ScratchRichEdit edit;
    RichTextView view(edit.control);
    view.ShowText("{\\rtf1\\ansi before}", TemplateValues{});
    EXPECT_EQ(RichText(edit.control), L"before");
    view.ShowResource(9999, TemplateValues{});
    EXPECT_EQ(RichText(edit.control), L"before");
}

TEST(RichTextViewTest, ShowTextReplacesTheWholeContentWithTheExpandedDocument) {
    ScratchRichEdit edit;
    RichTextView view(edit.control);
    TemplateValues values;
    SetTemplateValue(values, "%progname%", L"%ls", L"{\\b x} 100% \x0416\xc350");
    view.ShowText("{\\rtf1\\ansi first}", values);
    view.ShowText("{\\rtf1\\ansi A %progname% B 50%}", values);
    EXPECT_EQ(RichText(edit.control), L"A {\\b x} 100% \x0416\xc350 B 50%");
}
