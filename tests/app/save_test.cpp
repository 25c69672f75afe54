// The settings file as the window reads it at launch and writes it with "Save actions & guard".

#include "core/settings.h"
#include "harness.h"

namespace {

const std::string valid =
    R"({"version":1,"mappings":{"left":"f13","middle":"none","right":"enter"},)"
    R"("guardScope":"right"})";

using Saving = Shell;

TEST_F(Saving, LaunchShowsTheFileOrTheDefaultsAndCreatesNothing) {
  open();
  EXPECT_EQ(app->menus, (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(app->scope, 0);
  EXPECT_EQ(app->settings, Settings());
  EXPECT_FALSE(std::filesystem::exists(folder()));
  close();

  write(valid);
  open();
  EXPECT_EQ(app->menus, (std::vector<int>{5, 0, 4})) << "F13, No action, Enter";
  EXPECT_EQ(app->scope, 2) << "Right-click only";
}

TEST_F(Saving, SaveRewritesTheWholeRecord) {
  write(R"({"version":1,"extra":true,"mappings":{"left":"f13","middle":"none","right":"enter"},)"
        R"("guardScope":"right"})");
  open();
  EXPECT_EQ(app->menus[0], 5) << "an extra member does not stop the load";
  app->menus[1] = 12;
  click("Save actions & guard");
  EXPECT_EQ(app->status, "Saved locally. Activation remains explicit.");
  const Settings saved(1, {{"left", "f13"}, {"middle", "f20"}, {"right", "enter"}}, "right");
  EXPECT_EQ(contents(settingsFile()), encode(saved));
  EXPECT_EQ(app->settings, saved);
}

TEST_F(Saving, SaveReachesTheBackend) {
  // The saved record is handed to the backend: activating afterwards uses its guard scope.
  open();
  const std::uint64_t pedal = capture();
  teachAll(pedal);
  app->scope = 2;
  app->menus[2] = 4;
  click("Save actions & guard");
  app->verified = true;
  click("Activate actions");
  expectStatus("Actions active in the focused app. Guard: right. Keep Quillfen open.");
  ASSERT_TRUE(sim::deliver(pedal, {4, 0}));
  ASSERT_TRUE(until([] { return sim::postedCount() == 2; }));
  EXPECT_EQ(sim::posted()[0].key, 36) << "Return";
}

TEST_F(Saving, FailedSaveChangesNothingButTheVerification) {
  // A plain file where the folder belongs; then a pop-up without a selection.
  std::filesystem::create_directories(folder().parent_path());
  std::ofstream(folder()) << "not a folder";
  open();
  app->menus[0] = 3;
  app->verified = true;
  click("Save actions & guard");
  EXPECT_EQ(app->status, "Settings could not be saved. No activation requested.");
  EXPECT_FALSE(app->verified);
  EXPECT_EQ(app->settings, Settings());
  EXPECT_EQ(contents(folder()), "not a folder");
  close();

  std::filesystem::remove(folder());
  write(valid);
  open();
  app->scope = -1;
  click("Save actions & guard");
  EXPECT_EQ(app->status, "Settings could not be saved. No activation requested.");
  EXPECT_EQ(contents(settingsFile()), valid);
  EXPECT_EQ(app->settings.guardScope, "right");
}

TEST_F(Saving, SaveWhileActiveChangesNothing) {
  write(valid);
  open();
  app->show("Actions active in the focused app. Guard: right. Keep Quillfen open.", true, true);
  EXPECT_FALSE(app->buttons.at("Save actions & guard"));
  app->verified = true;
  app->menus[0] = 0;
  app->save();
  EXPECT_TRUE(app->verified);
  EXPECT_EQ(app->status, "Actions active in the focused app. Guard: right. Keep Quillfen open.");
  EXPECT_EQ(contents(settingsFile()), valid);
  EXPECT_EQ(app->settings.mappings.at("left"), "f13");
}

}  // namespace
