#include "control/resources/module_resources.h"
#include "ui/image.h"
#include "ui/image_button.h"

#include <gtest/gtest.h>

namespace {

class ModuleBitmaps : public testing::Test {
protected:
    void SetUp() override { platform::SetResourceModule(&PxModuleResources()); }
    void TearDown() override { platform::SetResourceModule(nullptr); }
};

struct BitmapCase {
    uint32_t id;
    CUISize size;
    const char* what;
};

// The sizes the views lay out with.
const BitmapCase kBitmaps[] = {
    {113, {96, 28}, "Remove"},
    {116, {96, 28}, "Pause"},
    {119, {96, 28}, "Resume"},
    {137, {96, 28}, "Start"},
    {146, {96, 28}, "Retry"},
    {122, {156, 28}, "Choose pictures..."},
    {132, {11, 8}, "sort arrow"},
    {133, {11, 8}, "sort arrow"},
    {134, {11, 8}, "sort arrow"},
    {135, {11, 8}, "sort arrow"},
    {139, {456, 168}, "empty list"},
    {201, {238, 31}, "drag and drop hint"},
    {191, {92, 18}, "Preferences link, disabled"},
    {192, {92, 18}, "Preferences link"},
    {193, {92, 18}, "Preferences link, pressed"},
    {194, {48, 48}, "red exclamation mark"},
    {195, {340, 56}, "Upload incomplete"},
    {196, {48, 48}, "green tick"},
    {197, {340, 56}, "Upload complete"},
    {198, {130, 28}, "View pictures"},
    {199, {160, 28}, "Add more pictures"},
    {200, {230, 28}, "View & retry failed pictures"},
    {183, {2, 22}, "toolbar separator"},
    {184, {36, 90}, "back, three states"},
    {185, {36, 90}, "open, three states"},
    {186, {36, 90}, "up, three states"},
    {188, {42, 90}, "thumbnails view, three states"},
    {189, {42, 90}, "details view, three states"},
    {207, {17, 20}, "drop-down arrow"},
    {176, {46, 18}, "Select:"},
    {210, {20, 54}, "all, three states"},
    {211, {36, 54}, "none, three states"},
    {187, {176, 56}, "Add selected pictures, two states"},
    {209, {84, 56}, "Cancel, two states"},
    {213, {600, 2}, "bottom separator"},
    {175, {104, 109}, "thumbnail cell frame"},
    {173, {13, 13}, "tick box, ticked"},
    {174, {13, 13}, "tick box, empty"},
};

const uint32_t kTemplates[] = {113, 116, 119, 137, 146, 122, 198, 199, 200};

TEST_F(ModuleBitmaps, EveryBitmapIsThereWithItsSize) {
    for (const BitmapCase& c : kBitmaps) {
        auto image = CUIImage::FromResource(c.id);
        ASSERT_TRUE(image) << c.id << " " << c.what;
        EXPECT_EQ(image->Size(), c.size) << c.id << " " << c.what;
    }
}

TEST_F(ModuleBitmaps, ButtonTemplatesHoldBodyLabelAndShadow) {
    for (uint32_t id : kTemplates) {
        CUIImageButton button(*CUIImage::FromResource(id));
        const CUIImage& t = *button.GetTemplate();
        int w = t.Width();
        int h = t.Height();
        EXPECT_TRUE(button.HitTest({4, h / 2})) << id << ": the body near its left end reacts";
        EXPECT_FALSE(button.HitTest({0, 0})) << id << ": the rounded corner does not";
        EXPECT_FALSE(button.HitTest({w - 1, h - 1})) << id << ": nor the shadow";
        int label = 0;
        int labelOffBody = 0;
        int shadowOffBody = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                CUIColor p = t.GetPixel(x, y);
                label += p.Red() > 128;
                labelOffBody += p.Red() > 0 && p.Green() < 250;
                shadowOffBody += p.Blue() > 32 && p.Green() < 64;
            }
        }
        EXPECT_GT(label, 40) << id << ": the label is drawn";
        EXPECT_EQ(labelOffBody, 0) << id << ": the label stays on the body";
        EXPECT_GT(shadowOffBody, w) << id << ": the shadow shows beside the body";
    }
}

TEST_F(ModuleBitmaps, TheThreePreferencesLinksDiffer) {
    auto grey = CUIImage::FromResource(191);
    auto normal = CUIImage::FromResource(192);
    auto pressed = CUIImage::FromResource(193);
    ASSERT_TRUE(grey && normal && pressed);
    auto differing = [](const CUIImage& a, const CUIImage& b) {
        int count = 0;
        for (int y = 0; y < a.Height(); ++y) {
            for (int x = 0; x < a.Width(); ++x)
                count += a.GetPixel(x, y) != b.GetPixel(x, y);
        }
        return count;
    };
    EXPECT_GT(differing(*grey, *normal), 50);
    EXPECT_GT(differing(*normal, *pressed), 50);
    // The grey link has no colour in it.
    for (int y = 0; y < grey->Height(); ++y) {
        for (int x = 0; x < grey->Width(); ++x) {
            CUIColor p = grey->GetPixel(x, y);
            EXPECT_TRUE(p.Red() == p.Green() && p.Green() == p.Blue()) << x << "," << y;
        }
    }
}

} // namespace
