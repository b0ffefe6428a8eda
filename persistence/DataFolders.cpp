#include "persistence/DataFolders.h"

juce::File getQuorvelDataFolder()
{
    const auto overridePath = juce::SystemStats::getEnvironmentVariable ("QUORVEL_DATA_DIR", {});
    if (overridePath.isNotEmpty())
        return juce::File (overridePath);

   #if JUCE_MAC
    const auto base = juce::File::getSpecialLocation (juce::File::commonDocumentsDirectory);
   #else
    const auto xdg = juce::SystemStats::getEnvironmentVariable ("XDG_DATA_HOME", {});
    const auto base = juce::File::isAbsolutePath (xdg) ? juce::File (xdg)
                                                       : juce::File ("~").getChildFile (".local/share");
   #endif

    return base.getChildFile ("Pellwick").getChildFile ("Quorvel");
}

bool replaceFileWithText (const juce::File& file, const juce::String& text)
{
    if (file == juce::File() || ! file.getParentDirectory().createDirectory())
        return false;

    juce::TemporaryFile temp (file);
    {
        juce::FileOutputStream stream (temp.getFile());
        if (! stream.openedOk())
            return false;

        stream.setPosition (0);
        stream.truncate();
        if (! stream.writeText (text, false, false, nullptr))
            return false;

        stream.flush();
        if (stream.getStatus().failed())
            return false;
    }

    return temp.overwriteTargetFileWithTemporary();
}
