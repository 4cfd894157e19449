// The main window, the token dialog and the token file, driven through the
// real widgets in a throw-away game folder.

#include "app/main_window.h"
#include "app/token_file.h"
#include "testkit/dialogs.h"
#include "testkit/game_folder.h"
#include "testkit/held_file.h"
#include "testkit/main_window_test.h"

#include <QInputDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

void expect_plain_box(const SeenDialog& box, const char* title, const char* text, int icon) {
    EXPECT_EQ(box.class_name, "QMessageBox");
    EXPECT_EQ(box.title, utf8(title));
    EXPECT_EQ(box.text, utf8(text));
    EXPECT_EQ(box.icon, icon);
    // One OK button, labelled in Turkish like every other text.
    ASSERT_EQ(box.buttons.size(), 1);
    EXPECT_EQ(QString(box.buttons[0]).remove('&'), "Tamam");
    EXPECT_FALSE(box.has_parent);
}

void expect_error_box(const SeenDialog& box, const char* text) {
    expect_plain_box(box, "Hata", text, QMessageBox::Critical);
}

#ifndef _WIN32
// Makes `folder` refuse new entries, or take them again: immutable for root,
// whom permissions do not stop, read-only for anyone else. False where this
// file system cannot.
bool refuse_new_entries(const fs::path& folder, bool refuse) {
    if (geteuid() != 0) {
        fs::permissions(folder, fs::perms::owner_write,
                        refuse ? fs::perm_options::remove : fs::perm_options::add);
        return true;
    }
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    bool ok = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = refuse ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0)
        close(fd);
    return ok;
}

// Runs `save` with files limited to `max_bytes`: a write past the limit fails
// part-way, as on a full disk. The limit and the signal are restored after.
bool save_limited_to(rlim_t max_bytes, const std::function<bool()>& save) {
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limited = previous;
    limited.rlim_cur = max_bytes;
    const auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limited);
    const bool saved = save();
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previous_handler);
    return saved;
}
#endif

class WindowTest : public ::testing::Test {
  protected:
    GameFolder folder;
};

} // namespace

TEST_F(WindowTest, TokenFileHoldsExactlyTheTypedBytes) {
    ASSERT_TRUE(save_token("first-token-that-is-long"));
    ASSERT_TRUE(save_token("kısa"));
    EXPECT_EQ(folder.read_file(token_file_name), "k\xc4\xb1sa");
    EXPECT_EQ(get_saved_token(), "k\xc4\xb1sa");
}

TEST_F(WindowTest, TokenFileIsForItsOwnerOnly) {
    ASSERT_TRUE(save_token("secret"));
#ifdef _WIN32
    GTEST_SKIP() << "Windows keeps who may read a file in its access list, not in mode bits";
#else
    struct stat info {};
    ASSERT_EQ(stat(token_file_name, &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
#endif
}

// A file whose mode cannot be narrowed (as on a FAT drive) would be readable
// by other accounts: the save fails before the token is written. proc's
// files take writes but refuse every mode change, to root too.
TEST_F(WindowTest, TokenFileWhoseModeCannotBeNarrowedIsNotSaved) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows keeps who may read a file in its access list, not in mode bits";
#else
    fs::create_symlink("/proc/self/comm", token_file_name);
    EXPECT_FALSE(save_token("secret"));
#endif
}

TEST_F(WindowTest, TokenIsSavedInAFolderThatTakesNoNewFile) {
#ifdef _WIN32
    GTEST_SKIP() << "a folder refuses new files only by its access list, which Wine does not "
                    "enforce, and Windows has no file size limit to fail a write part-way";
#else
    ASSERT_TRUE(save_token("old"));
    if (!refuse_new_entries(folder.tool(), true))
        GTEST_SKIP() << "this file system cannot make a folder read-only for root";
    const bool saved = save_token("new-token");
    // A longer token whose write fails part-way leaves the one saved before.
    const bool longer_saved =
        save_limited_to(12, [] { return save_token("a-token-longer-than-the-limit"); });
    refuse_new_entries(folder.tool(), false);
    EXPECT_TRUE(saved);
    EXPECT_FALSE(longer_saved);
    EXPECT_EQ(folder.read_file(token_file_name), "new-token");
#endif
}

// Windows replaces no file that another program holds open (without leave
// to delete it): the save fails, and the token saved before stays whole.
TEST_F(WindowTest, TokenFileHeldOpenByAnotherProgramKeepsTheTokenSavedBefore) {
    ASSERT_TRUE(save_token("old"));
    held_file holder(folder.tool() / token_file_name, held_file::sharing::read_and_write);
    if (!holder.holds())
        GTEST_SKIP() << holder.why_not();
    EXPECT_FALSE(save_token("new-token"));
    EXPECT_EQ(folder.read_file(token_file_name), "old");
    // Nothing is left behind beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.tool()), fs::directory_iterator()), 1);
}

TEST_F(WindowTest, SavedTokenIsTheFirstLineOnly) {
    folder.write_file(token_file_name, "abc\ndef\n");
    EXPECT_EQ(get_saved_token(), "abc");
    folder.write_file(token_file_name, "abc\r\ndef");
    EXPECT_EQ(get_saved_token(), "abc");
    folder.write_file(token_file_name, "a\rb");
    EXPECT_EQ(get_saved_token(), "a\rb");
    folder.write_file(token_file_name, " spaced token ");
    EXPECT_EQ(get_saved_token(), " spaced token ");
    folder.write_file(token_file_name, "");
    EXPECT_EQ(get_saved_token(), "");
    folder.write_file(token_file_name, "\nlater");
    EXPECT_EQ(get_saved_token(), "");
}

TEST_F(WindowTest, UnreadableOrMissingTokenFileGivesNoToken) {
    EXPECT_FALSE(fs::exists(token_file_name));
    EXPECT_EQ(get_saved_token(), "");
    fs::create_directory(token_file_name);
    EXPECT_EQ(get_saved_token(), "");
}

TEST_F(WindowTest, TokenFileThatCannotBeResolvedGivesNoToken) {
    // A link to itself: neither opening it nor asking whether it exists works.
    if (const std::string why = cannot_link(token_file_name, token_file_name); !why.empty())
        GTEST_SKIP() << why;
    EXPECT_EQ(get_saved_token(), "");
}

TEST_F(WindowTest, StartUpNeedsReplayFolderThenGameExecutable) {
    EXPECT_TRUE(run_answering([] { EXPECT_TRUE(game_files_present()); }).empty());

    fs::remove(folder.game() / "th10.exe");
    auto seen = run_answering([] { EXPECT_FALSE(game_files_present()); });
    ASSERT_EQ(seen.size(), 1u);
    expect_error_box(seen[0], "Pim th10.exe'yı bulayımıyor!!!");

    // With both missing only the replay folder is named.
    fs::remove(folder.replays());
    seen = run_answering([] { EXPECT_FALSE(game_files_present()); });
    ASSERT_EQ(seen.size(), 1u);
    expect_error_box(seen[0], "Pim replay klasörünü bulamıyor!!!");
}

TEST_F(WindowTest, AnyEntryNamedReplayPasses) {
    fs::remove(folder.replays());
    folder.write_file(folder.replays(), "not a folder");
    EXPECT_TRUE(run_answering([] { EXPECT_TRUE(game_files_present()); }).empty());
}

TEST_F(WindowTest, ReplayEntryThatCannotBeResolvedIsNamedMissing) {
    fs::remove(folder.replays());
    if (const std::string why = cannot_link("replay", folder.replays()); !why.empty())
        GTEST_SKIP() << why;
    const auto seen = run_answering([] { EXPECT_FALSE(game_files_present()); });
    ASSERT_EQ(seen.size(), 1u);
    expect_error_box(seen[0], "Pim replay klasörünü bulamıyor!!!");
}

TEST_F(MainWindowTest, WindowIsFixedWithTwoButtonsInOneColumn) {
    EXPECT_EQ(window.windowTitle(), "Zarvik");
    EXPECT_EQ(window.minimumSize(), QSize(400, 100));
    EXPECT_EQ(window.maximumSize(), QSize(400, 100));
    EXPECT_TRUE(window.findChildren<QMenuBar*>().isEmpty());
    EXPECT_TRUE(window.findChildren<QStatusBar*>().isEmpty());

    auto* layout = qobject_cast<QVBoxLayout*>(window.layout());
    ASSERT_NE(layout, nullptr);
    ASSERT_EQ(layout->count(), 2);
    auto* top = qobject_cast<QPushButton*>(layout->itemAt(0)->widget());
    auto* bottom = qobject_cast<QPushButton*>(layout->itemAt(1)->widget());
    ASSERT_TRUE(top && bottom);
    EXPECT_EQ(top->text(), "Token Girin");
    EXPECT_EQ(bottom->text(), utf8("Replay Gönderin"));
    EXPECT_EQ(layout->stretch(0), 0);
    EXPECT_EQ(layout->stretch(1), 0);
    EXPECT_EQ(top->parentWidget(), &window);
    EXPECT_EQ(bottom->parentWidget(), &window);
}

TEST_F(MainWindowTest, TokenDialogAsksPlainlyAndCancelChangesNothing) {
    token = "kept";
    const auto seen =
        run_answering([&] { click_button(window, utf8("Token Girin")); }, {cancel_input()});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].class_name, "QInputDialog");
    EXPECT_EQ(seen[0].title, "Zarvik");
    EXPECT_EQ(seen[0].text, "Token Girin: ");
    EXPECT_EQ(seen[0].echo_mode, QLineEdit::Normal);
    EXPECT_EQ(seen[0].initial_text, "");
    EXPECT_FALSE(seen[0].has_parent);
    EXPECT_EQ(seen[0].buttons, QStringList({"Tamam", utf8("İptal")}));
    EXPECT_EQ(token, "kept");
    EXPECT_FALSE(fs::exists(token_file_name));
}

TEST_F(MainWindowTest, EmptyTokenIsRefused) {
    token = "kept";
    const auto seen =
        run_answering([&] { click_button(window, utf8("Token Girin")); }, {type_text("")});
    ASSERT_EQ(seen.size(), 2u);
    expect_error_box(seen[1], "Pim Token Talep Ediyor!");
    EXPECT_EQ(token, "kept");
    EXPECT_FALSE(fs::exists(token_file_name));
}

TEST_F(MainWindowTest, SavedTokenIsConfirmedKeptAndUsedAtOnce) {
    const auto seen = run_answering([&] { click_button(window, utf8("Token Girin")); },
                                    {type_text(utf8("şifre-42"))});
    // The scan that follows finds an empty replay folder and shows nothing.
    ASSERT_EQ(seen.size(), 2u);
    expect_plain_box(seen[1], "Kaydedildi", "Pim Tokeninizi Başarıyla Kaydetti!",
                     QMessageBox::Information);
    EXPECT_EQ(token, "\xc5\x9f"
                     "ifre-42");
    EXPECT_EQ(folder.read_file(token_file_name), token);
}

TEST_F(MainWindowTest, FailedSaveIsReportedAndTheTokenStillHolds) {
    fs::create_directory(token_file_name);
    auto seen =
        run_answering([&] { click_button(window, utf8("Token Girin")); }, {type_text("new-token")});
    ASSERT_EQ(seen.size(), 2u);
    expect_error_box(seen[1], "Pim Tokeninizi Kaydedemedi!");
    EXPECT_EQ(token, "new-token");
    EXPECT_TRUE(fs::is_directory(token_file_name));

    // The send button now has a token and goes on to the (empty) scan.
    seen = run_answering([&] { click_button(window, utf8("Replay Gönderin")); });
    EXPECT_TRUE(seen.empty());
}

TEST_F(MainWindowTest, SendWithoutTokenSaysNoneIsSaved) {
    const auto seen = run_answering([&] { click_button(window, utf8("Replay Gönderin")); });
    ASSERT_EQ(seen.size(), 1u);
    expect_error_box(seen[0], "Pim Kayıtlı Token Bulamadı!");
}
