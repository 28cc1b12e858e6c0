#include <gtest/gtest.h>

#include <QDir>
#include <unistd.h>

#include <QSet>
#include <QString>
#include <QStringList>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

#include "engine/copy_engine.h"
#include "settings/settings_table.h"
#include "settings/window_settings.h"
#include "tests/support/engine_settings_edit.h"
#include "tests/support/test_folder.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

// Every test gets a profile of its own in a temporary folder; the user's is never read.
class ProfileSettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = testing::freshTestFolder("tessaly-profile");
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(m_dir.string()));
        m_profile = std::make_unique<ProfileSettings>();
        ASSERT_TRUE(m_profile->store().fileName().startsWith(QString::fromStdString(m_dir)));
        ASSERT_TRUE(m_profile->store().allKeys().isEmpty());
    }
    void TearDown() override
    {
        m_profile.reset();
        fs::remove_all(m_dir);
    }

    // What the profile file on disk holds now.
    std::string fileText()
    {
        const fs::path file = m_profile->store().fileName().toStdString();
        std::string text(fs::exists(file) ? fs::file_size(file) : 0, '\0');
        std::ifstream(file, std::ios::binary).read(text.data(), text.size());
        return text;
    }

    QSet<QString> storedKeys()
    {
        const QStringList keys = m_profile->store().allKeys();
        return QSet<QString>(keys.begin(), keys.end());
    }

    fs::path m_dir;
    std::unique_ptr<ProfileSettings> m_profile;
    CopyEngine m_engine;
    WindowSettings m_window;
};

TEST_F(ProfileSettingsTest, FirstStartTakesEveryDefaultAndSavesAllButLanguage)
{
    // Settings the engine would otherwise keep from before; the load must replace them.
    setSetting(m_engine, &EngineSettings::autoRereads, false);
    setSetting(m_engine, &EngineSettings::rereadCount, 3);
    setSetting(m_engine, &EngineSettings::fillType, FillType::String);
    setSetting(m_engine, &EngineSettings::existingPolicy, ExistingPolicy::Replace);

    loadSettings(*m_profile, m_window, m_engine, "/opt/tessaly/share/tessaly/");
    EXPECT_EQ(m_window.programFolder, "/opt/tessaly/share/tessaly/");
    EXPECT_EQ(m_profile->path(), "/opt/tessaly/share/tessaly");  // stored at once, bare
    EXPECT_EQ(m_window.helpFolder, "/opt/tessaly/share/tessaly/Help/");
    EXPECT_EQ(m_window.language, "english.lng");
    EXPECT_EQ(m_window.autoStartCopying, 1);
    EXPECT_EQ(m_window.dontAskForAddReserveds, 0);
    EXPECT_EQ(m_window.dontAskForLog, 0);
    EXPECT_EQ(m_window.reuseOutFolder, 1);
    EXPECT_EQ(m_window.outputFolder, "");
    EXPECT_EQ(m_window.showDetails, 0);
    EXPECT_EQ(m_window.dontAskConfirmForExistings, 1);
    EXPECT_EQ(m_window.quickStart, 2);

    EXPECT_TRUE(m_engine.settings().autoRereads);
    EXPECT_EQ(m_engine.settings().rereadCount, 1u);
    EXPECT_TRUE(m_engine.settings().createLog);
    EXPECT_TRUE(m_engine.settings().deleteLogIfNoErrors);
    EXPECT_EQ(m_engine.settings().fillType, FillType::Zeros);
    EXPECT_EQ(m_engine.settings().fillValue, 255);
    EXPECT_EQ(m_engine.settings().fillString, "?");
    EXPECT_EQ(m_engine.settings().optimizeFor, 0.0f);
    EXPECT_EQ(m_engine.settings().reservedPlacement, ReservedPlacement::BesideSource);
    EXPECT_EQ(m_engine.settings().existingPolicy, ExistingPolicy::Resume);
    EXPECT_TRUE(m_engine.settings().trimPass);
    EXPECT_EQ(m_engine.settings().retryPasses, 2u);
    EXPECT_EQ(m_profile->get(profile_key::kRpFolder), "A:\\Copy\\");
    // The stored default names no folder of this system: the window shows one in home.
    EXPECT_EQ(m_engine.settings().reservedFolder, QDir::homePath().toStdString() + "/Copy/");

    EXPECT_EQ(storedKeys(), QSet<QString>{"Path"});
    saveSettings(*m_profile, m_window, m_engine);
    const QSet<QString> expected = {"GetAutoSectorRereads",
                                    "SectorRereadsCount",
                                    "CreateLog",
                                    "DeleteLogIfNoErrs",
                                    "NRRType",
                                    "NRRValue",
                                    "NRRString",
                                    "Time",
                                    "RPFolder",
                                    "RPType",
                                    "EFPType",
                                    "TrimFilled",
                                    "RetryPasses",
                                    "EasyFirst",
                                    "Path",
                                    "AutoStartCopying",
                                    "DontAskForAddReserveds",
                                    "DontAskForLog",
                                    "DontAskConfirmForExistings",
                                    "ReuseOutFolder",
                                    "OutFolder",
                                    "ShowDetails",
                                    "QuickStart",
                                    "WaitForMedium"};
    EXPECT_EQ(storedKeys(), expected);
    EXPECT_EQ(m_window.waitForMedium, 0);  // a removed medium ends the run unless asked
    const std::string onDisk = fileText();
    for (const QString& key : expected) {
        EXPECT_NE(onDisk.find(key.toStdString() + "="), std::string::npos) << key.toStdString();
    }

    // The next start reads back what was saved.
    ProfileSettings again;
    EXPECT_EQ(again.get(profile_key::kSectorRereadsCount), 1);
    EXPECT_EQ(again.get(profile_key::kEfpType), 2);
    EXPECT_EQ(again.get(profile_key::kNrrString), "?");
    EXPECT_EQ(again.get(profile_key::kTime), 0.0f);
    EXPECT_EQ(again.path(), "/opt/tessaly/share/tessaly");
}

TEST(ReservedFolder, OnlyAFolderOfThisSystemIsKept)
{
    EXPECT_EQ(localReservedFolder("/mnt/copies/", "/home/u"), "/mnt/copies/");
    for (const char* foreign : {"", "A:\\Copy\\", "D:\\Backup", "copies/"}) {
        EXPECT_EQ(localReservedFolder(foreign, "/home/u"), "/home/u/Copy/") << foreign;
    }
    EXPECT_EQ(localReservedFolder("", "/"), "/Copy/");
}

TEST_F(ProfileSettingsTest, StoredPathIsKeptAsItStands)
{
    m_profile->setPath("/srv/tessaly");
    loadSettings(*m_profile, m_window, m_engine, "/elsewhere");
    EXPECT_EQ(m_window.programFolder, "/srv/tessaly");
    EXPECT_EQ(m_window.helpFolder, "/srv/tessaly/Help/");
    EXPECT_EQ(m_profile->path(), "/srv/tessaly");
}

TEST_F(ProfileSettingsTest, StalePathGivesWayToTheProgramFolderAndIsReplaced)
{
    m_profile->setPath((m_dir / "removed-build").string());
    loadSettings(*m_profile, m_window, m_engine);
    const char* data = std::getenv("TESSALY_DATA_DIR");
    ASSERT_NE(data, nullptr);
    EXPECT_TRUE(fs::equivalent(m_profile->path(), data));
    EXPECT_EQ(m_window.programFolder, m_profile->path() + "/");
}

TEST_F(ProfileSettingsTest, EmptyPathFallsBackToTheProgramFolder)
{
    m_profile->setPath("");
    loadSettings(*m_profile, m_window, m_engine);
    // The tests run from build/bin, whose language files lie in the data folder.
    const char* data = std::getenv("TESSALY_DATA_DIR");
    ASSERT_NE(data, nullptr);
    EXPECT_TRUE(fs::equivalent(m_profile->path(), data));
    EXPECT_EQ(m_window.programFolder, m_profile->path() + "/");
}

TEST_F(ProfileSettingsTest, SaveWritesWhatTheWindowAndEngineHold)
{
    loadSettings(*m_profile, m_window, m_engine, "/p");
    m_window.outputFolder = "/media/out";
    m_window.reuseOutFolder = 0;
    m_window.quickStart = 0;
    setSetting(m_engine, &EngineSettings::optimizeFor, 0.5f);
    setSetting(m_engine, &EngineSettings::fillValue, 7);
    setSetting(m_engine, &EngineSettings::fillType, FillType::Value);
    setSetting(m_engine, &EngineSettings::reservedFolder, "/mnt/copies");
    setSetting(m_engine, &EngineSettings::rereadCount, 3);
    setSetting(m_engine, &EngineSettings::autoRereads, false);
    setSetting(m_engine, &EngineSettings::trimPass, false);
    setSetting(m_engine, &EngineSettings::retryPasses, 0);
    saveSettings(*m_profile, m_window, m_engine);

    EXPECT_EQ(m_profile->get(profile_key::kTrimFilled), 0);
    EXPECT_EQ(m_profile->get(profile_key::kRetryPasses), 0);
    EXPECT_EQ(m_profile->get(profile_key::kOutFolder), "");  // not kept for the next start
    EXPECT_EQ(m_profile->get(profile_key::kReuseOutFolder), 0);
    EXPECT_EQ(m_profile->get(profile_key::kQuickStart), 0);
    EXPECT_EQ(m_profile->get(profile_key::kTime), 0.5f);
    EXPECT_EQ(m_profile->store().value("Time").toByteArray(), QByteArray("\x00\x00\x00\x3f", 4));
    EXPECT_EQ(m_profile->get(profile_key::kNrrValue), 7);
    EXPECT_EQ(m_profile->get(profile_key::kNrrType), 1);
    EXPECT_EQ(m_profile->get(profile_key::kRpFolder), "/mnt/copies/");
    EXPECT_EQ(m_profile->get(profile_key::kSectorRereadsCount), 3);
    EXPECT_EQ(m_profile->get(profile_key::kAutoSectorRereads), 0);
    EXPECT_FALSE(m_profile->store().contains("Language"));

    m_window.reuseOutFolder = 1;
    saveSettings(*m_profile, m_window, m_engine);
    EXPECT_EQ(m_profile->get(profile_key::kOutFolder), "/media/out");
}

TEST_F(ProfileSettingsTest, FillValueGoesToTheEngineAsOneByteAndIsSavedAsOne)
{
    m_profile->set(profile_key::kNrrValue, 0x1234);
    EXPECT_EQ(m_profile->get(profile_key::kNrrValue), 0x1234);  // the getter gives what is stored
    applyEngineSettings(*m_profile, m_engine);
    EXPECT_EQ(m_engine.settings().fillValue, 0x34);
    storeEngineSettings(*m_profile, m_engine);
    EXPECT_EQ(m_profile->get(profile_key::kNrrValue), 0x34);
}

TEST_F(ProfileSettingsTest, TimeRoundTripsThroughTheEngine)
{
    for (const float value : {0.0f, 0.37f, 0.5f, 1.0f}) {
        m_profile->set(profile_key::kTime, value);
        applyEngineSettings(*m_profile, m_engine);
        storeEngineSettings(*m_profile, m_engine);
        EXPECT_NEAR(m_profile->get(profile_key::kTime), value, 1e-6f) << value;
    }
    m_profile->set(profile_key::kTime, 0.5f);
    applyEngineSettings(*m_profile, m_engine);
    storeEngineSettings(*m_profile, m_engine);
    EXPECT_EQ(m_profile->get(profile_key::kTime), 0.5f);
}

TEST_F(ProfileSettingsTest, DamagedValuesLoadAsDefaults)
{
    QSettings& store = m_profile->store();
    store.setValue("NRRType", 7);
    store.setValue("EFPType", -1);
    store.setValue("RPType", 9);
    store.setValue("SectorRereadsCount", -5);
    store.setValue("CreateLog", "yes please");
    store.setValue("Time", QByteArray("\x00\x00\x00", 3));
    store.setValue("QuickStart", 3);
    store.setValue("TrimFilled", 2);
    EXPECT_EQ(m_profile->get(profile_key::kQuickStart), 2);
    EXPECT_EQ(m_profile->get(profile_key::kTrimFilled), 1);
    EXPECT_EQ(m_profile->get(profile_key::kNrrType), 0);
    EXPECT_EQ(m_profile->get(profile_key::kEfpType), 2);
    EXPECT_EQ(m_profile->get(profile_key::kRpType), 1);
    EXPECT_EQ(m_profile->get(profile_key::kSectorRereadsCount), 1);
    EXPECT_EQ(m_profile->get(profile_key::kCreateLog), 1);
    EXPECT_EQ(m_profile->get(profile_key::kTime), 0.0f);

    store.setValue("SectorRereadsCount", 0);
    EXPECT_EQ(m_profile->get(profile_key::kSectorRereadsCount), 1);
    store.setValue("NRRType", -1);
    EXPECT_EQ(m_profile->get(profile_key::kNrrType), 0);
    store.setValue("EFPType", 4);
    EXPECT_EQ(m_profile->get(profile_key::kEfpType), 2);

    for (const float bad : {-0.25f, 1.5f, std::numeric_limits<float>::quiet_NaN()}) {
        store.setValue("Time", ProfileSettings::encodeTime(bad));
        EXPECT_EQ(m_profile->get(profile_key::kTime), 0.0f) << bad;
    }

    // The engine gets the defaults, not the damage.
    setSetting(m_engine, &EngineSettings::fillType, FillType::LastGood);
    setSetting(m_engine, &EngineSettings::rereadCount, 3);
    applyEngineSettings(*m_profile, m_engine);
    EXPECT_EQ(m_engine.settings().fillType, FillType::Zeros);
    EXPECT_EQ(m_engine.settings().existingPolicy, ExistingPolicy::Resume);
    EXPECT_EQ(m_engine.settings().reservedPlacement, ReservedPlacement::BesideSource);
    EXPECT_EQ(m_engine.settings().rereadCount, 1u);
    EXPECT_TRUE(m_engine.settings().createLog);
    EXPECT_EQ(m_engine.settings().optimizeFor, 0.0f);
    EXPECT_TRUE(m_engine.settings().trimPass);
    store.setValue("TrimFilled", -1);
    EXPECT_EQ(m_profile->get(profile_key::kTrimFilled), 1);

    // Values inside their ranges are kept.
    store.setValue("NRRType", 4);
    store.setValue("EFPType", 3);
    store.setValue("RPType", 0);
    store.setValue("SectorRereadsCount", 3);
    store.setValue("QuickStart", 0);
    store.setValue("TrimFilled", 0);
    EXPECT_EQ(m_profile->get(profile_key::kQuickStart), 0);
    EXPECT_EQ(m_profile->get(profile_key::kTrimFilled), 0);
    applyEngineSettings(*m_profile, m_engine);
    EXPECT_FALSE(m_engine.settings().trimPass);
    EXPECT_EQ(m_profile->get(profile_key::kNrrType), 4);
    EXPECT_EQ(m_profile->get(profile_key::kEfpType), 3);
    EXPECT_EQ(m_profile->get(profile_key::kRpType), 0);
    EXPECT_EQ(m_profile->get(profile_key::kSectorRereadsCount), 3);
}

TEST_F(ProfileSettingsTest, LanguageIsWrittenOnlyByItsSetter)
{
    loadSettings(*m_profile, m_window, m_engine, "/p");
    saveSettings(*m_profile, m_window, m_engine);
    EXPECT_FALSE(m_profile->store().contains("Language"));
    m_profile->setLanguage("deutsch.lng");
    EXPECT_NE(fileText().find("Language=deutsch.lng"), std::string::npos);
    ProfileSettings again;
    EXPECT_EQ(again.language(), "deutsch.lng");
}

}  // namespace
}  // namespace tessaly
