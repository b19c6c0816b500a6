// The main window: its creation, its size, and how it answers messages; menu marks as the
// stand-in keeps them, on a menu of the test's own.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>

#include "app/app_window.h"
#include "app/main_loop.h"
#include "app/resource_ids.h"
#include "platform/common/window_core.h"
#include "platform/headless/headless.h"
#include "tests/support/test_support.h"
#include "tutor/tutor_app.h"

namespace {

WindowDesc tutorWindow() { return tutorWindowDesc(); }

// Dispatches everything queued.
void dispatchAll() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) continue;
        DispatchMessageA(&msg);
    }
}

// The window with a tutor record attached as the program attaches it (not started: the
// window's messages only reach its requests and flags).
class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        testing_support::resetWorld();
        ASSERT_TRUE(appWindow.create(GetModuleHandleA(nullptr), tutorWindow()));
        attachTutor(&app);
    }
    void TearDown() override {
        attachTutor(nullptr);
        testing_support::resetWorld();
    }
    TutorApp app;
};

TEST_F(MainWindow, SizesFollowTheAdjustedRectangle) {
    // The adjusted rectangle grows by the frame; the back buffer is as wide as its right
    // edge and as tall as its bottom edge, and the menu bar comes out of the client area.
    EXPECT_EQ(appWindow.windowRect.left, -3);
    EXPECT_EQ(appWindow.windowRect.top, -26);
    EXPECT_EQ(appWindow.windowRect.right, 603);
    EXPECT_EQ(appWindow.windowRect.bottom, 483);
    EXPECT_EQ(appWindow.backBuffer->width, 603);
    EXPECT_EQ(appWindow.backBuffer->height, 483);
    EXPECT_EQ(appWindow.backBuffer->bytesPerPixel, 4);
    RECT client;
    ASSERT_TRUE(GetClientRect(appWindow.window, &client));
    EXPECT_EQ(client.right, 600);
    EXPECT_EQ(client.bottom, 480 - headless::menuBarHeight);
    EXPECT_TRUE(IsWindowVisible(appWindow.window));
    EXPECT_NE(appWindow.windowDC, nullptr);
    EXPECT_NE(appWindow.timer, nullptr);
}

TEST_F(MainWindow, KeepsTheWholeObjectPointerInThePointerSizedUserData) {
    EXPECT_EQ(GetWindowLongPtrA(appWindow.window, GWLP_USERDATA),
              reinterpret_cast<LONG_PTR>(&appWindow));
}

TEST_F(MainWindow, CarriesTheMenuBar) {
    std::vector<std::string> texts;
    std::vector<int> ids;
    for (const auto& entry : headless::menuOf(appWindow.window)) {
        texts.push_back(entry.text);
        ids.push_back(entry.id);
    }
    // A popup's items are followed by an empty entry that ends it; a separator is one too.
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "&File", "&Open Rhythm File", "Open &Playlist File", "", "&Exit", "",
                         "View", "Show / Hide Notes", "Sound Delay", "-50 ms", "-25 ms", "Off", "+25 ms", "+50 ms",
                         "+75 ms", "+100 ms", "+150 ms", "+200 ms", "+250 ms", "+300 ms", "", "",
                         "&Practice", "Count-In", "Off", "1 Bar", "2 Bars", "",
                         "Speed Trainer", "Off", "+1 BPM Every Pass", "+2 BPM Every Pass", "+5 BPM Every 2 Passes",
                         "+5 BPM Every 4 Passes", "+10 BPM Every 4 Passes", "-5 BPM Every 2 Passes", "",
                         "Stop 10 BPM Away", "Stop 20 BPM Away", "Stop 30 BPM Away", "Stop 40 BPM Away",
                         "Stop 60 BPM Away", "",
                         "Silent Passes", "Off", "1 of 2", "1 of 3", "2 of 4", "1 of 4", "",
                         "", "Listen", "Listening", "Call and Answer", "Headphones", "",
                         "Strict: On Time Within 10 ms", "Normal: On Time Within 20 ms",
                         "Relaxed: On Time Within 35 ms", "", "Calibrate My Strokes...",
                         "Measure the Sound Delay...", "",
                         "", "Hold This Entry", "", "Practice Log", "",
                         "Help", "About the Tabladex", "Help Contents", ""}));
    EXPECT_EQ(ids, (std::vector<int>{0,     40001, 40008, 0,     40003, 0,     0,     40007, 0,
                                     40021, 40022, 40023, 40024, 40025, 40026, 40027, 40028, 40029,
                                     40030, 40031, 0,     0,     0,     0,     40041, 40042, 40043, 0,
                                     0,     40051, 40052, 40053, 40054, 40055, 40056, 40057, 0,
                                     40061, 40062, 40063, 40064, 40065, 0,     0,     40071, 40072,
                                     40073, 40074, 40075, 0,     0,     40091, 0,     40092, 40093,
                                     0,     40094, 40095, 40096, 0,     40097, 40098, 0,     0,
                                     40081, 0,     40082, 0,
                                     0,     40004, 40011, 0}));
}

TEST_F(MainWindow, SecondCreateIsRefusedAndChangesNothing) {
    HWND first = appWindow.window;
    Surface* buffer = appWindow.backBuffer;
    EXPECT_FALSE(appWindow.create(GetModuleHandleA(nullptr), tutorWindow()));
    EXPECT_EQ(appWindow.window, first);
    EXPECT_EQ(appWindow.backBuffer, buffer);
}

TEST_F(MainWindow, CreateRefusesANullInstance) {
    AppWindow other;
    EXPECT_FALSE(other.create(nullptr, tutorWindow()));
    EXPECT_EQ(other.window, nullptr);
}

TEST_F(MainWindow, EscapeClosesTheWindowAndRequestsTheQuit) {
    ASSERT_TRUE(headless::pressKey(appWindow.window, VK_ESCAPE));
    dispatchAll();
    EXPECT_FALSE(IsWindow(appWindow.window));
    EXPECT_TRUE(app.stopRequested.load());
    EXPECT_TRUE(platform::quitPosted());
}

TEST_F(MainWindow, WithoutAnObjectEveryMessageGoesToTheDefaultProcedure) {
    // A window of the same class made with no AppWindow behind it: its messages (like those
    // that arrive before WM_CREATE) reach the default procedure only.
    HWND bare = CreateWindowExA(0, "DefaultWindow", "bare", WS_CAPTION, 0, 0, 100, 100, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(GetWindowLongPtrA(bare, GWLP_USERDATA), 0);
    EXPECT_EQ(SendMessageA(bare, WM_KEYDOWN, VK_ESCAPE, 0), 0);
    EXPECT_TRUE(IsWindow(bare)) << "Escape is the tutor window's key, not the default's";
    SendMessageA(bare, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(bare));
    EXPECT_FALSE(app.stopRequested.load());
    EXPECT_FALSE(platform::quitPosted());
    EXPECT_TRUE(IsWindow(appWindow.window));
}

TEST_F(MainWindow, OtherKeysAreAnsweredWithZeroAndDoNothing) {
    for (int key : {int('A'), VK_RETURN, VK_SPACE}) {
        EXPECT_EQ(SendMessageA(appWindow.window, WM_KEYDOWN, key, 0), 0);
    }
    EXPECT_TRUE(IsWindow(appWindow.window));
    EXPECT_FALSE(app.stopRequested.load());
}

TEST_F(MainWindow, CloseBoxDestroysTheWindowThroughTheDefaultProcedure) {
    ASSERT_TRUE(headless::clickCloseBox(appWindow.window));
    dispatchAll();
    EXPECT_FALSE(IsWindow(appWindow.window));
    EXPECT_TRUE(app.stopRequested.load());
}

TEST_F(MainWindow, CommandsOutsideTheMenuRangeOnlyReachTheDefaultProcedure) {
    for (int id : {40000, 40002, 40005, 40012, 1003}) {
        SendMessageA(appWindow.window, WM_COMMAND, MAKEWPARAM(id, 0), 0);
    }
    EXPECT_TRUE(headless::messageBoxes().empty());
    EXPECT_TRUE(IsWindow(appWindow.window));
    EXPECT_TRUE(app.showNotes);
    EXPECT_TRUE(headless::shellRequests().empty());
    // Inside the range a command runs: Help Contents asks for the Help.
    SendMessageA(appWindow.window, WM_COMMAND, MAKEWPARAM(40011, 0), 0);
    EXPECT_EQ(headless::shellRequests().size(), 1u);
}

TEST_F(MainWindow, HelpContentsOpensTheIndexPageInTheBrowserOrSaysWhereTheHelpIs) {
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(testing_support::programFolder());  // the data folder
    const std::filesystem::path help = std::filesystem::current_path() / "Help";
    SendMessageA(appWindow.window, WM_COMMAND, MAKEWPARAM(ID_HELP_CONTENTS, 0), 0);
    // Nothing opens it: the box names the Help folder's full path.
    headless::failShellExecute(true);
    SendMessageA(appWindow.window, WM_COMMAND, MAKEWPARAM(ID_HELP_CONTENTS, 0), 0);
    std::filesystem::current_path(before);
    ASSERT_EQ(headless::shellRequests().size(), 2u);
    const auto& request = headless::shellRequests()[0];
    EXPECT_EQ(request.owner, appWindow.window);
    EXPECT_EQ(request.operation, "open");
    EXPECT_EQ(request.file, (help / "index.html").string());
    EXPECT_EQ(request.showCommand, SW_SHOWNORMAL);
    ASSERT_EQ(headless::messageBoxes().size(), 1u);  // only for the failed one
    const auto& box = headless::messageBoxes()[0];
    EXPECT_EQ(box.text, "For more detailed help, please see the help files in the Tabladex's "
                        "Help directory:\n" + help.string());
    EXPECT_EQ(box.caption, "Tabladex Help");
    EXPECT_EQ(box.owner, appWindow.window);
}

TEST_F(MainWindow, ExitAndShowHideNotesFromTheMenu) {
    ASSERT_TRUE(headless::chooseMenuItem(appWindow.window, ID_VIEW_SHOWHIDENOTES));
    dispatchAll();
    EXPECT_FALSE(app.showNotes);
    ASSERT_TRUE(headless::chooseMenuItem(appWindow.window, ID_VIEW_SHOWHIDENOTES));
    dispatchAll();
    EXPECT_TRUE(app.showNotes);
    ASSERT_TRUE(headless::chooseMenuItem(appWindow.window, ID_FILE_EXIT));
    dispatchAll();
    EXPECT_FALSE(IsWindow(appWindow.window));
    EXPECT_TRUE(platform::quitPosted());
}

TEST_F(MainWindow, AboutPanelsStackAtTheTopLeftAndCloseOneByOne) {
    ASSERT_TRUE(headless::chooseMenuItem(appWindow.window, ID_HELP_ABOUT));
    dispatchAll();
    HWND lower = appWindow.aboutDialog;
    ASSERT_TRUE(headless::chooseMenuItem(appWindow.window, ID_HELP_ABOUT));
    dispatchAll();
    HWND upper = appWindow.aboutDialog;
    ASSERT_NE(lower, nullptr);
    ASSERT_NE(upper, lower);
    headless::PanelState panel = headless::panelState(upper);
    EXPECT_TRUE(panel.visible);
    EXPECT_EQ(panel.x, 0);
    EXPECT_EQ(panel.y, 0);
    EXPECT_EQ(panel.caption, "About the Tabladex");
    ASSERT_TRUE(headless::clickDialogButton(upper, IDC_ABOUT_CLOSE));
    dispatchAll();
    EXPECT_FALSE(headless::panelState(upper).visible);
    EXPECT_TRUE(headless::panelState(upper).exists) << "Close hides the panel only";
    EXPECT_TRUE(headless::panelState(lower).visible);
    // Panels go with the main window.
    DestroyWindow(appWindow.window);
    EXPECT_FALSE(headless::panelState(lower).exists);
    EXPECT_FALSE(headless::panelState(upper).exists);
}

// A window with a menu: File (Open, separator, Exit), View (Notes, Delay (None, Short, Long)).
class MenuMarks : public ::testing::Test {
protected:
    void SetUp() override {
        testing_support::resetWorld();
        using K = platform::MenuItemKind;
        static const platform::MenuItemDesc items[] = {
            {K::PopupBegin, "&File", 0}, {K::Item, "&Open", 1}, {K::Separator, nullptr, 0},
            {K::Item, "E&xit", 2}, {K::PopupEnd, nullptr, 0}, {K::PopupBegin, "View", 0},
            {K::Item, "Notes", 10}, {K::PopupBegin, "Delay", 0}, {K::Item, "None", 20},
            {K::Item, "Short", 21}, {K::Item, "Long", 22}, {K::PopupEnd, nullptr, 0},
            {K::PopupEnd, nullptr, 0}};
        static const platform::MenuDesc menus[] = {{300, items, std::size(items)}};
        static const platform::ModuleResources table{menus, 1, nullptr, 0, nullptr, 0};
        platform::setModuleResources(&table);
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.lpszMenuName = MAKEINTRESOURCEA(300);
        windowClass.lpszClassName = "MenuMarks";
        ASSERT_NE(RegisterClassExA(&windowClass), 0);
        window = CreateWindowExA(0, "MenuMarks", "", WS_CAPTION, 0, 0, 200, 100, nullptr,
                                 nullptr, nullptr, nullptr);
        ASSERT_NE(bar = GetMenu(window), nullptr);
    }
    void TearDown() override { testing_support::resetWorld(); }
    UINT state(UINT id) { return GetMenuState(bar, id, MF_BYCOMMAND); }
    HWND window = nullptr;
    HMENU bar = nullptr;
};

TEST_F(MenuMarks, CheckMenuItemFindsCommandsInNestedPopupsAndReturnsThePreviousState) {
    EXPECT_EQ(CheckMenuItem(bar, 21, MF_BYCOMMAND | MF_CHECKED), DWORD(MF_UNCHECKED));
    EXPECT_EQ(CheckMenuItem(bar, 21, MF_CHECKED), DWORD(MF_CHECKED));
    EXPECT_EQ(CheckMenuItem(bar, 10, MF_CHECKED), DWORD(MF_UNCHECKED));
    EXPECT_EQ(state(21), UINT(MF_CHECKED));
    EXPECT_EQ(CheckMenuItem(bar, 10, MF_UNCHECKED), DWORD(MF_CHECKED));
    EXPECT_EQ(state(10), 0u);
    EXPECT_EQ(state(21), UINT(MF_CHECKED)) << "each item keeps its own mark";
    EXPECT_EQ(CheckMenuItem(bar, 99, MF_CHECKED), DWORD(-1));
    EXPECT_EQ(state(99), UINT(-1));
}

TEST_F(MenuMarks, ByPositionCountsInTheGivenMenuOnly) {
    HMENU view = GetSubMenu(bar, 1), delay = GetSubMenu(view, 1);
    ASSERT_NE(delay, nullptr);
    EXPECT_EQ(GetSubMenu(bar, 2), nullptr);
    EXPECT_EQ(CheckMenuItem(delay, 2, MF_BYPOSITION | MF_CHECKED), DWORD(MF_UNCHECKED));
    EXPECT_EQ(state(22), UINT(MF_CHECKED));
    EXPECT_EQ(CheckMenuItem(delay, 3, MF_BYPOSITION | MF_CHECKED), DWORD(-1));
    EXPECT_EQ(CheckMenuItem(bar, 2, MF_BYPOSITION | MF_CHECKED), DWORD(-1));
    EXPECT_EQ(GetMenuState(view, 1, MF_BYPOSITION), UINT(3 << 8 | MF_POPUP));
    EXPECT_EQ(GetMenuState(GetSubMenu(bar, 0), 1, MF_BYPOSITION), UINT(MF_SEPARATOR));
}

TEST_F(MenuMarks, CheckMenuRadioItemChecksOneOfTheRangeAndClearsTheOthers) {
    EXPECT_TRUE(CheckMenuRadioItem(bar, 20, 22, 21, MF_BYCOMMAND));
    EXPECT_EQ(state(20), 0u);
    EXPECT_EQ(state(21), UINT(MF_CHECKED | MFT_RADIOCHECK));
    EXPECT_EQ(state(22), 0u);
    EXPECT_TRUE(CheckMenuRadioItem(bar, 20, 22, 22, MF_BYCOMMAND));
    EXPECT_EQ(state(21) & MF_CHECKED, 0u);
    EXPECT_EQ(state(22), UINT(MF_CHECKED | MFT_RADIOCHECK));
    // A choice outside the range: the range is cleared all the same, and the call fails.
    CheckMenuItem(bar, 10, MF_CHECKED);
    EXPECT_FALSE(CheckMenuRadioItem(bar, 21, 22, 10, MF_BYCOMMAND));
    EXPECT_EQ(state(22) & MF_CHECKED, 0u);
    EXPECT_EQ(state(10), UINT(MF_CHECKED));
    CheckMenuItem(bar, 22, MF_CHECKED);
    EXPECT_TRUE(CheckMenuRadioItem(GetSubMenu(GetSubMenu(bar, 1), 1), 0, 2, 0, MF_BYPOSITION));
    EXPECT_EQ(state(20) & MF_CHECKED, UINT(MF_CHECKED));
    EXPECT_EQ(state(22) & MF_CHECKED, 0u);
    // The menu goes with its window.
    DestroyWindow(window);
    EXPECT_EQ(state(20), UINT(-1));
    EXPECT_EQ(GetMenu(window), nullptr);
}

}  // namespace
