#include <gtest/gtest.h>

#include "tests/harness/EngineHarness.h"

int main (int argc, char** argv)
{
    const auto dataFolder = qtest::useTemporaryDataFolder();
    int result = 0;
    {
        const juce::ScopedJuceInitialiser_GUI juce;
        ::testing::InitGoogleTest (&argc, argv);
        result = RUN_ALL_TESTS();
    }
    dataFolder.deleteRecursively();
    return result;
}
