// The settings file as the window reads it at launch and writes it with "Save actions & guard".

#include "core/settings.h"
#include "fixture.h"

namespace {

const std::string valid =
    R"({"version":1,"mappings":{"left":"f13","middle":"none","right":"enter"},)"
    R"("guardScope":"right"})";

class Saving : public Window {
 protected:
  std::vector<QString> shown() const {
    std::vector<QString> titles;
    for (QComboBox* menu : app->menus)
      titles.push_back(menu->currentText());
    titles.push_back(app->scope->currentText());
    return titles;
  }
};

TEST_F(Saving, NoFileShowsDefaultsAndCreatesNothing) {
  open();
  EXPECT_EQ(shown(),
            (std::vector<QString>{"No action", "No action", "No action", "Off (default)"}));
  EXPECT_EQ(app->settings, Settings());
  EXPECT_FALSE(std::filesystem::exists(config / "Quillfen"));
}

TEST_F(Saving, ValidFileIsShownInThePopUps) {
  write(valid);
  open();
  EXPECT_EQ(shown(), (std::vector<QString>{"F13", "No action", "Enter", "Right-click only"}));
  EXPECT_EQ(app->menus[0]->count(), 13);
  EXPECT_EQ(app->scope->count(), 3);
}

TEST_F(Saving, LoadLimitIs8192Bytes) {
  write(valid + std::string(8192 - valid.size(), ' '));
  open();
  EXPECT_EQ(app->menus[0]->currentText(), "F13");
  close();

  write(valid + std::string(8193 - valid.size(), ' '));
  open();
  EXPECT_EQ(app->settings, Settings());
  EXPECT_EQ(app->menus[0]->currentText(), "No action");
}

TEST_F(Saving, InvalidRecordsAreIgnoredSilently) {
  for (const char* bad :
       {R"({"version":2,"mappings":{"left":"f13","middle":"none","right":"enter"},)"
        R"("guardScope":"right"})",
        R"({"version":1,"mappings":{"left":"F13","middle":"none","right":"enter"},)"
        R"("guardScope":"right"})"}) {
    write(bad);
    open();
    EXPECT_EQ(app->settings, Settings()) << bad;
    EXPECT_EQ(app->status->text(), "Inspect your pedal to begin. No input is captured.");
    EXPECT_EQ(read(settingsFile()), bad) << "loading never changes the file";
    close();
  }
}

TEST_F(Saving, SaveRewritesTheWholeRecord) {
  write(R"({"version":1,"extra":true,"mappings":{"left":"f13","middle":"none","right":"enter"},)"
        R"("guardScope":"right"})");
  open();
  EXPECT_EQ(app->menus[0]->currentText(), "F13") << "an extra member does not stop the load";
  app->menus[1]->setCurrentIndex(12);
  click("Save actions & guard");
  EXPECT_EQ(app->status->text(), "Saved locally. Activation remains explicit.");
  const Settings saved(1, {{"left", "f13"}, {"middle", "f20"}, {"right", "enter"}}, "right");
  EXPECT_EQ(read(settingsFile()), encode(saved));
  EXPECT_EQ(app->settings, saved);
}

TEST_F(Saving, SaveReachesTheBackend) {
  // The saved record is handed to the backend: activating afterwards uses its guard scope.
  open();
  const std::uint64_t pedal = capture();
  teachAll(pedal);
  app->scope->setCurrentIndex(2);
  app->menus[2]->setCurrentIndex(4);
  click("Save actions & guard");
  tick(app->verified);
  click("Activate actions");
  expectStatus("Actions active in the focused app. Guard: right. Keep Quillfen open.");
  ASSERT_TRUE(sim::deliver(pedal, {4, 0}));
  ASSERT_TRUE(until([] { return sim::postedCount() == 2; }));
  EXPECT_EQ(sim::posted()[0].key, 36) << "Return";
}

TEST_F(Saving, PlainFileInTheFoldersPlaceMakesSaveFail) {
  std::ofstream(config / "Quillfen") << "not a folder";
  open();
  app->menus[0]->setCurrentIndex(3);
  tick(app->verified);
  click("Save actions & guard");
  EXPECT_EQ(app->status->text(), "Settings could not be saved. No activation requested.");
  EXPECT_FALSE(app->verified->isChecked());
  EXPECT_EQ(app->settings, Settings());
  EXPECT_EQ(read(config / "Quillfen"), "not a folder");
}

TEST_F(Saving, PopUpWithoutSelectionMakesSaveFail) {
  write(valid);
  open();
  app->scope->setCurrentIndex(-1);
  click("Save actions & guard");
  EXPECT_EQ(app->status->text(), "Settings could not be saved. No activation requested.");
  EXPECT_EQ(read(settingsFile()), valid);
  EXPECT_EQ(app->settings.guardScope, "right");
}

TEST_F(Saving, SaveWhileActiveChangesNothing) {
  write(valid);
  open();
  app->show("Actions active in the focused app. Guard: right. Keep Quillfen open.", true, true);
  EXPECT_FALSE(app->buttons.at("Save actions & guard")->isEnabled());
  tick(app->verified);
  app->menus[0]->setCurrentIndex(0);
  app->save();
  EXPECT_TRUE(app->verified->isChecked());
  EXPECT_EQ(app->status->text(),
            "Actions active in the focused app. Guard: right. Keep Quillfen open.");
  EXPECT_EQ(read(settingsFile()), valid);
  EXPECT_EQ(app->settings.mappings.at("left"), "f13");
}

}  // namespace
