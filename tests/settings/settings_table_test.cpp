// The table of profile keys: what a damaged or missing value reads as, key by key.
#include "settings/settings_table.h"

#include <gtest/gtest.h>

#include <QDir>

#include <QVariant>
#include <cmath>
#include <limits>
#include <vector>

#include "tests/support/test_folder.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

class SettingsTableTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = testing::freshTestFolder("tessaly-table");
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(m_dir.string()));
        m_profile = std::make_unique<ProfileSettings>();
    }
    void TearDown() override
    {
        m_profile.reset();
        fs::remove_all(m_dir);
    }

    // Calls check(key) for every key that the engine or the window loads.
    template <class Check>
    static void forEveryKey(Check check)
    {
        const auto each = [&](const auto&... row) { (check(row.key), ...); };
        std::apply(each, kEngineKeys);
        std::apply(each, kWindowKeys);
    }

    // Stored values that the key does not accept.
    static std::vector<QVariant> damaged(const IntKey& key)
    {
        std::vector<QVariant> values = {QVariant(QStringLiteral("not a number")),
                                        QVariant(qlonglong{1} << 40)};
        if (key.low > std::numeric_limits<std::int32_t>::min())
            values.emplace_back(qlonglong{key.low} - 1);
        if (key.high < std::numeric_limits<std::int32_t>::max())
            values.emplace_back(qlonglong{key.high} + 1);
        return values;
    }
    static std::vector<QVariant> damaged(const FloatKey& key)
    {
        return {QVariant(ProfileSettings::encodeTime(key.low - 0.25f)),
                QVariant(ProfileSettings::encodeTime(key.high + 0.25f)),
                QVariant(ProfileSettings::encodeTime(std::numeric_limits<float>::quiet_NaN())),
                QVariant(QByteArray("\x00\x00\x00", 3))};
    }
    static std::vector<QVariant> damaged(const TextKey&) { return {}; }  // any text is one

    fs::path m_dir;
    std::unique_ptr<ProfileSettings> m_profile;
};

TEST_F(SettingsTableTest, AValueTheKeyDoesNotAcceptReadsAsTheDefault)
{
    int checked = 0;
    forEveryKey([&](const auto& key) {
        for (const QVariant& bad : damaged(key)) {
            m_profile->store().setValue(key.name, bad);
            EXPECT_EQ(m_profile->get(key), key.fallback)
                << key.name << " " << bad.toString().toStdString();
            ++checked;
        }
    });
    EXPECT_GT(checked, 30);

    // Every key damaged at once: the engine and the window get every default.
    forEveryKey([&](const auto& key) {
        const std::vector<QVariant> bad = damaged(key);
        if (!bad.empty()) m_profile->store().setValue(key.name, bad.back());
    });
    // The reserved copies' folder as this system shows the stored default.
    EngineSettings defaults;
    defaults.reservedFolder = localReservedFolder(defaults.reservedFolder, QDir::homePath().toStdString());
    defaults.easyFirst = true;  // the one key whose default is not a fresh engine's
    EXPECT_EQ(loadEngineSettings(*m_profile), defaults);
    WindowSettings window;
    window.outputFolder = "/left/over";
    loadKeys(*m_profile, window, kWindowKeys);
    EXPECT_EQ(window, WindowSettings{});  // OutFolder as well: missing, so empty
}

TEST_F(SettingsTableTest, AValueInsideTheRangeIsKept)
{
    forEveryKey([&](const auto& key) {
        using Key = std::remove_cvref_t<decltype(key)>;
        if constexpr (std::is_same_v<Key, IntKey>) {
            for (const std::int32_t value : {key.low, key.high}) {
                m_profile->set(key, value);
                EXPECT_EQ(m_profile->get(key), value) << key.name;
            }
        } else if constexpr (std::is_same_v<Key, FloatKey>) {
            for (const float value : {key.low, key.high}) {
                m_profile->set(key, value);
                EXPECT_EQ(m_profile->get(key), value) << key.name;
            }
        } else {
            m_profile->set(key, "x");
            EXPECT_EQ(m_profile->get(key), "x") << key.name;
        }
    });
}

// The keys of enums accept exactly the enum's values: one enumerator more in the
// enum is one value more in the profile.
TEST_F(SettingsTableTest, EnumKeysAcceptTheirEnumsValues)
{
    struct EnumKey
    {
        IntKey key;
        std::int32_t last;
    };
    const EnumKey keys[] = {
        {profile_key::kNrrType, static_cast<std::int32_t>(kLastFillType)},
        {profile_key::kRpType, static_cast<std::int32_t>(kLastReservedPlacement)},
        {profile_key::kEfpType, static_cast<std::int32_t>(kLastExistingPolicy)},
        {profile_key::kQuickStart, static_cast<std::int32_t>(kLastQuickStart)},
    };
    for (const EnumKey& each : keys) {
        for (std::int32_t value = 0; value <= each.last; ++value) {
            m_profile->store().setValue(each.key.name, value);
            EXPECT_EQ(m_profile->get(each.key), value) << each.key.name;
        }
        for (const std::int32_t outside : {-1, each.last + 1}) {
            m_profile->store().setValue(each.key.name, outside);
            EXPECT_EQ(m_profile->get(each.key), each.key.fallback) << each.key.name << outside;
        }
    }
}

// Every field the table loads comes back as it was stored, through the profile's
// own types (flags as 1 and 0, enums by number, the fill value as a byte).
TEST_F(SettingsTableTest, EngineSettingsRoundTripThroughTheProfile)
{
    const EngineSettings changed{.autoRereads = false,
                                 .createLog = false,
                                 .deleteLogIfNoErrors = false,
                                 .fillString = "BAD",
                                 .fillType = FillType::LastGood,
                                 .fillValue = 7,
                                 .optimizeFor = 0.75f,
                                 .reservedFolder = "/save/",
                                 .reservedPlacement = ReservedPlacement::Ask,
                                 .rereadCount = 3,
                                 .existingPolicy = ExistingPolicy::Append,
                                 .trimPass = false,
                                 .retryPasses = 5};
    storeEngineSettings(*m_profile, changed);
    EXPECT_EQ(loadEngineSettings(*m_profile), changed);
    EXPECT_EQ(m_profile->store().value("GetAutoSectorRereads").toInt(), 0);
    EXPECT_EQ(m_profile->store().value("NRRType").toInt(), 3);
    EXPECT_EQ(m_profile->store().value("Time").toByteArray(), QByteArray("\x00\x00\x40\x3f", 4));
}

}  // namespace
}  // namespace tessaly
