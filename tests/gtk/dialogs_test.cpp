// Modal dialogs on a real X display: the message box and the file chooser, answered by a
// hook once they are up, as a user would answer them.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <string>

#include "gtk_test_window.h"

namespace gtktest {
namespace {

using gtkbackend::onNextFileChooser;
using gtkbackend::onNextMessageBox;
using gtkbackend::pressResponse;

// Cancels a dialog that a hook's answer left open, so a refusal ends the test instead of
// hanging it; records that it had to.
struct Watchdog {
    bool fired = false;
    void watch(GtkDialog* dialog) {
        g_object_ref(dialog);
        g_timeout_add(3000, [](gpointer data) -> gboolean {
            auto* pair = static_cast<std::pair<Watchdog*, GtkDialog*>*>(data);
            if (gtk_widget_get_visible(GTK_WIDGET(pair->second))) {
                pair->first->fired = true;
                gtk_dialog_response(pair->second, GTK_RESPONSE_CANCEL);
            }
            g_object_unref(pair->second);
            delete pair;
            return G_SOURCE_REMOVE;
        }, new std::pair<Watchdog*, GtkDialog*>(this, dialog));
    }
};

class MessageBoxTest : public GtkWindowTest {};

TEST_F(MessageBoxTest, WarningBoxIsModalOverItsOwnerAndAnswersOk) {
    ASSERT_NE(makeMainWindow(), nullptr);
    bool ran = false;
    onNextMessageBox([&](GtkDialog* dialog) {
        ran = true;
        EXPECT_TRUE(gtk_widget_get_mapped(GTK_WIDGET(dialog)));
        EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(dialog)), "Image Error");
        EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(dialog)));
        EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(dialog)), gtkbackend::toplevel(window));
        gchar* text = nullptr;
        GtkMessageType type = GTK_MESSAGE_OTHER;
        g_object_get(dialog, "text", &text, "message-type", &type, nullptr);
        EXPECT_STREQ(text, "Error Loading Images");
        EXPECT_EQ(type, GTK_MESSAGE_WARNING);
        g_free(text);
        EXPECT_EQ(gtk_dialog_get_widget_for_response(dialog, GTK_RESPONSE_CANCEL), nullptr);
        EXPECT_TRUE(pressResponse(dialog, GTK_RESPONSE_OK));
    });
    EXPECT_EQ(MessageBoxA(window, "Error Loading Images", "Image Error", MB_ICONWARNING), IDOK);
    EXPECT_TRUE(ran);
}

TEST_F(MessageBoxTest, OwnerlessBoxAndTheAnswersOfEachButtonSet) {
    onNextMessageBox([](GtkDialog* dialog) {
        EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(dialog)), nullptr);
        gchar* text = nullptr;
        GtkMessageType type = GTK_MESSAGE_WARNING;
        g_object_get(dialog, "text", &text, "message-type", &type, nullptr);
        EXPECT_STREQ(text, "No sound device");
        EXPECT_EQ(type, GTK_MESSAGE_OTHER);  // MB_OK alone carries no icon
        g_free(text);
        pressResponse(dialog, GTK_RESPONSE_OK);
    });
    EXPECT_EQ(MessageBoxA(nullptr, "No sound device", "Sound Error", MB_OK), IDOK);

    onNextMessageBox([](GtkDialog* dialog) { EXPECT_TRUE(pressResponse(dialog, GTK_RESPONSE_NO)); });
    EXPECT_EQ(MessageBoxA(nullptr, "Again?", "Question", MB_YESNO | MB_ICONQUESTION), IDNO);
    onNextMessageBox([](GtkDialog* dialog) { EXPECT_TRUE(pressResponse(dialog, GTK_RESPONSE_CANCEL)); });
    EXPECT_EQ(MessageBoxA(nullptr, "Go on?", "Question", MB_OKCANCEL), IDCANCEL);
    // Closed without a button: an OK box answers IDOK, as on Windows.
    onNextMessageBox([](GtkDialog* dialog) { gtk_window_close(GTK_WINDOW(dialog)); });
    EXPECT_EQ(MessageBoxA(nullptr, "Closed", "Closed", MB_OK), IDOK);
}

// A folder with rhythm files in mixed letter case, a text file and a sub-folder.
class FileChooserTest : public GtkWindowTest {
protected:
    void SetUp() override {
        GtkWindowTest::SetUp();
        char pattern[] = "/tmp/gtk_chooser_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        for (const char* name : {"Brenmoor.KRF", "Tabla.krf", "notes.txt"})
            std::ofstream(folder + "/" + name) << "x";
        mkdir((folder + "/sub").c_str(), 0755);
        std::memset(file, 0, sizeof file);
        ofn.lStructSize = sizeof ofn;
        ofn.lpstrFilter = "Rhythm Files (*.krf)\0*.krf\0All Files (*.*)\0*.*\0";
        ofn.nFilterIndex = 1;
        ofn.lpstrFile = file;
        ofn.nMaxFile = sizeof file;
        ofn.lpstrInitialDir = folder.c_str();
        ofn.lpstrTitle = "Open Rhythm File";
        ofn.lpstrDefExt = "krf";
        ofn.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    }
    void TearDown() override {
        for (const char* name : {"Brenmoor.KRF", "Tabla.krf", "notes.txt"})
            unlink((folder + "/" + name).c_str());
        rmdir((folder + "/sub").c_str());
        rmdir(folder.c_str());
        GtkWindowTest::TearDown();
    }
    std::string folder;
    char file[MAX_PATH];
    OPENFILENAMEA ofn{};
    Watchdog watchdog;
};

bool filterAccepts(GtkFileFilter* filter, const char* name) {
    GtkFileFilterInfo info{};
    info.contains = GTK_FILE_FILTER_DISPLAY_NAME;
    info.display_name = name;
    return gtk_file_filter_filter(filter, &info);
}

TEST_F(FileChooserTest, OpensInTheFolderWithTheFiltersAndReturnsTheChosenPath) {
    ASSERT_NE(makeMainWindow(), nullptr);
    ofn.hwndOwner = window;
    bool ran = false;
    onNextFileChooser([&](GtkDialog* dialog) {
        ran = true;
        GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
        EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(dialog)), "Open Rhythm File");
        EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(dialog)));
        EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(dialog)), gtkbackend::toplevel(window));
        EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_OPEN);
        gchar* current = gtk_file_chooser_get_current_folder(chooser);
        EXPECT_EQ(std::string(current ? current : ""), folder);
        g_free(current);

        GSList* filters = gtk_file_chooser_list_filters(chooser);
        ASSERT_EQ(g_slist_length(filters), 2u);
        auto* rhythms = GTK_FILE_FILTER(filters->data);
        auto* all = GTK_FILE_FILTER(filters->next->data);
        g_slist_free(filters);
        EXPECT_STREQ(gtk_file_filter_get_name(rhythms), "Rhythm Files (*.krf)");
        EXPECT_STREQ(gtk_file_filter_get_name(all), "All Files (*.*)");
        EXPECT_EQ(gtk_file_chooser_get_filter(chooser), rhythms);
        EXPECT_TRUE(filterAccepts(rhythms, "Tabla.krf"));
        EXPECT_TRUE(filterAccepts(rhythms, "Brenmoor.KRF"));
        EXPECT_FALSE(filterAccepts(rhythms, "notes.txt"));
        EXPECT_FALSE(filterAccepts(rhythms, "krf"));
        EXPECT_TRUE(filterAccepts(all, "notes.txt"));

        watchdog.watch(dialog);
        gtkbackend::chooseFile(dialog, folder + "/Brenmoor.KRF");
    });
    ASSERT_TRUE(GetOpenFileNameA(&ofn));
    EXPECT_TRUE(ran);
    EXPECT_FALSE(watchdog.fired);
    EXPECT_EQ(std::string(file), folder + "/Brenmoor.KRF");
    EXPECT_EQ(ofn.nFileOffset, folder.size() + 1);
}

TEST_F(FileChooserTest, TypedNameWithoutExtensionGetsTheDefaultOne) {
    onNextFileChooser([&](GtkDialog* dialog) {
        watchdog.watch(dialog);
        gtkbackend::typeFileName(dialog, "Tabla");
    });
    ASSERT_TRUE(GetOpenFileNameA(&ofn));
    EXPECT_FALSE(watchdog.fired);
    EXPECT_EQ(std::string(file), folder + "/Tabla.krf");
}

TEST_F(FileChooserTest, TypedNameOfAMissingFileFails) {
    onNextFileChooser([&](GtkDialog* dialog) {
        watchdog.watch(dialog);
        gtkbackend::typeFileName(dialog, "Missing");
    });
    std::strcpy(file, "untouched");
    EXPECT_FALSE(GetOpenFileNameA(&ofn));
    EXPECT_STREQ(file, "untouched");
}

TEST_F(FileChooserTest, CancelReturnsZero) {
    onNextFileChooser([](GtkDialog* dialog) { EXPECT_TRUE(pressResponse(dialog, GTK_RESPONSE_CANCEL)); });
    std::strcpy(file, "untouched");
    EXPECT_FALSE(GetOpenFileNameA(&ofn));
    EXPECT_STREQ(file, "untouched");
}

TEST_F(FileChooserTest, ARecordOfAnotherSizeFailsBeforeAnyChooserShows) {
    bool shown = false;
    onNextFileChooser([&](GtkDialog* dialog) {
        shown = true;
        EXPECT_TRUE(pressResponse(dialog, GTK_RESPONSE_CANCEL));
    });
    // 76 is the 32-bit record's size; Windows accepts exactly its own record's size.
    for (DWORD size : {DWORD{76}, DWORD{sizeof ofn - 8}, DWORD{sizeof ofn + 8}}) {
        ofn.lStructSize = size;
        EXPECT_FALSE(GetOpenFileNameA(&ofn)) << size;
    }
    EXPECT_FALSE(shown);
    ofn.lStructSize = sizeof ofn;
    EXPECT_FALSE(GetOpenFileNameA(&ofn));  // the chooser shows and is cancelled
    EXPECT_TRUE(shown);
}

TEST_F(FileChooserTest, PathLongerThanTheBufferFails) {
    std::string path = folder + "/Tabla.krf";
    ofn.nMaxFile = static_cast<DWORD>(path.size());  // no room for the terminator
    onNextFileChooser([&](GtkDialog* dialog) {
        watchdog.watch(dialog);
        gtkbackend::chooseFile(dialog, path);
    });
    std::strcpy(file, "untouched");
    EXPECT_FALSE(GetOpenFileNameA(&ofn));
    EXPECT_STREQ(file, "untouched");

    ofn.nMaxFile = static_cast<DWORD>(path.size() + 1);
    onNextFileChooser([&](GtkDialog* dialog) { gtkbackend::chooseFile(dialog, path); });
    EXPECT_TRUE(GetOpenFileNameA(&ofn));
    EXPECT_EQ(std::string(file), path);
}

TEST_F(FileChooserTest, ATerminationSignalClosesAnOpenChooserAndEndsTheLoop) {
    for (int signal : {SIGTERM, SIGINT}) {
        ASSERT_NE(makeMainWindow(), nullptr);
        ofn.hwndOwner = window;
        onNextFileChooser([&](GtkDialog* dialog) {
            watchdog.watch(dialog);
            raise(signal);
        });
        EXPECT_FALSE(GetOpenFileNameA(&ofn)) << signal;
        EXPECT_FALSE(watchdog.fired) << signal << ": the chooser stayed open";
        EXPECT_EQ(runLoop(), 0) << signal;
        EXPECT_FALSE(IsWindow(window)) << signal;
    }
}

}  // namespace
}  // namespace gtktest
