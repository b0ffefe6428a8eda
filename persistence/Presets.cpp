#include "engine/PluginProcessor.h"

#include "persistence/DataFolders.h"

// Presets and sketches: the whole state in a ".sketch" file. Factory presets
// live in the presets folder, user presets in its "User Presets" folder.

namespace
{
const juce::String userPrefix ("User Presets/");

const juce::XmlElement* childNamed (const juce::XmlElement& parent, const juce::String& name)
{
    for (auto* child : parent.getChildIterator())
        if (child->getTagName().equalsIgnoreCase (name))
            return child;
    return nullptr;
}

void addPresets (juce::StringArray& names, const juce::File& folder, const juce::String& prefix,
                 const juce::File& skipFolder)
{
    for (const auto& entry : juce::RangedDirectoryIterator (folder, true, "*.sketch", juce::File::findFiles))
    {
        const auto file = entry.getFile();
        if (skipFolder != juce::File() && file.isAChildOf (skipFolder))
            continue;

        auto name = file.getRelativePathFrom (folder);
        name = name.dropLastCharacters (7).replaceCharacter ('\\', '/');
        names.add (prefix + name);
    }
}
}

juce::File PluginProcessor::getFactoryPresetsDirectory()
{
    return getQuorvelDataFolder().getChildFile ("Presets");
}

juce::File PluginProcessor::getUserPresetsDirectory()
{
    return getFactoryPresetsDirectory().getChildFile ("User Presets");
}

juce::StringArray PluginProcessor::getAvailablePresets() const
{
    juce::StringArray names;
    const auto presets = getFactoryPresetsDirectory();
    const auto user = getUserPresetsDirectory();

    if (presets.isDirectory())
        addPresets (names, presets, {}, user);

    if (! user.isDirectory())
        user.createDirectory();
    if (user.isDirectory())
        addPresets (names, user, userPrefix, {});

    names.sort (true);
    return names;
}

bool PluginProcessor::loadPreset (const juce::String& name)
{
    const bool isUser = name.startsWith (userPrefix);
    const auto folder = isUser ? getUserPresetsDirectory() : getFactoryPresetsDirectory();
    const auto file = folder.getChildFile ((isUser ? name.fromFirstOccurrenceOf (userPrefix, false, false) : name)
                                           + ".sketch");

    // A name must not lead out of the presets folder.
    if (! file.isAChildOf (folder) || ! file.existsAsFile())
        return false;

    const auto root = juce::XmlDocument::parse (file);
    if (! applySketchXml (root.get()))
        return false;

    const std::lock_guard<std::mutex> lock (keyDataMutex);
    currentPresetName = name;
    presetModified = false;
    return true;
}

bool PluginProcessor::loadSketchFile (const juce::File& file)
{
    if (! file.existsAsFile())
        return false;

    const auto root = juce::XmlDocument::parse (file);
    if (! applySketchXml (root.get()))
        return false;

    const std::lock_guard<std::mutex> lock (keyDataMutex);
    currentPresetName = file.getFileNameWithoutExtension();
    presetModified = false;
    return true;
}

bool PluginProcessor::applySketchXml (const juce::XmlElement* root)
{
    if (root == nullptr || ! root->getTagName().equalsIgnoreCase ("QuorvelSketch"))
        return false;

    auto base = std::make_unique<KeyArray>();
    auto audio = std::make_unique<AudioArray>();
    auto upper = std::make_unique<std::array<KeyArray, 3>>();
    std::array<bool, 3> upperPresent {};

    if (const auto* keysXml = childNamed (*root, "Keys"))
        readKeysXml (*keysXml, *base, audio.get());
    for (int l = 1; l <= 3; ++l)
    {
        if (const auto* container = childNamed (*root, "KeysUpper" + juce::String (l)))
        {
            readKeysXml (*container, (*upper)[(size_t) l - 1], nullptr);
            upperPresent[(size_t) l - 1] = true;
        }
    }

    const std::lock_guard<std::mutex> lock (keyDataMutex);

    UndoEntry entry;
    entry.snapshot = captureFullSnapshot();
    pushUndoEntry (std::move (entry));

    readSettingsXml (*root, false);
    keys = std::move (*base);
    keyAudio = std::move (*audio);
    for (size_t l = 0; l < 3; ++l)
        if (upperPresent[l])
            upperKeys[l] = std::move ((*upper)[l]);

    resetPlaybackForNewContent();
    inputKeyDown.fill (false);
    scaleRescanRequested.store (true);
    readKeySnapXml (*root);
    for (int k = 0; k < numKeys; ++k)
        publishNoteCount (k);
    return true;
}

bool PluginProcessor::writeSketchToFile (const juce::File& file) const
{
    juce::XmlElement root ("QuorvelSketch");
    root.setAttribute ("version", "3");
    writeSettingsXml (root);
    writeDocumentKeys (root);
    return replaceFileWithText (file, root.toString());
}

bool PluginProcessor::savePreset (const juce::String& name)
{
    auto cleaned = name.contains (userPrefix) ? name.fromFirstOccurrenceOf (userPrefix, false, false) : name;
    cleaned = juce::File::createLegalFileName (cleaned.trim());
    if (cleaned.isEmpty())
        return false;

    if (! writeSketchToFile (getUserPresetsDirectory().getChildFile (cleaned + ".sketch")))
        return false;

    const std::lock_guard<std::mutex> lock (keyDataMutex);
    currentPresetName = userPrefix + cleaned;
    presetModified = false;
    return true;
}
