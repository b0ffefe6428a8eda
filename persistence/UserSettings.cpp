#include "persistence/UserSettings.h"

#include "persistence/DataFolders.h"

UserSettings::UserSettings() : UserSettings (defaultFile()) {}

UserSettings::UserSettings (const juce::File& settingsFile) : file (settingsFile)
{
    load();
}

UserSettings::~UserSettings()
{
    save();
}

juce::File UserSettings::defaultFile()
{
    return getQuorvelDataFolder().getChildFile ("settings.xml");
}

void UserSettings::load()
{
    if (file == juce::File() || ! file.existsAsFile())
        return;

    const auto root = juce::XmlDocument::parse (file);
    if (root == nullptr || root->getTagName() != "QuorvelSettings")
        return;

    auto firstChild = [&root] (const char* name) -> const juce::XmlElement*
    {
        for (auto* child : root->getChildIterator())
            if (child->getTagName().equalsIgnoreCase (name))
                return child;
        return nullptr;
    };

    if (const auto* e = firstChild ("WindowSize"))
        width = e->getStringAttribute ("width").getIntValue();
    if (const auto* e = firstChild ("Synth"))
        synthEnabled = e->getBoolAttribute ("enabled", true);
    if (const auto* e = firstChild ("PasteHint"))
        pasteHintDismissed = e->getBoolAttribute ("dismissed", false);
}

void UserSettings::save() const
{
    if (file == juce::File())
        return;

    juce::XmlElement root ("QuorvelSettings");
    root.createNewChildElement ("WindowSize")->setAttribute ("width", width);
    root.createNewChildElement ("Synth")->setAttribute ("enabled", synthEnabled ? 1 : 0);
    root.createNewChildElement ("PasteHint")->setAttribute ("dismissed", pasteHintDismissed ? 1 : 0);

    // A failure is ignored: the next save tries again.
    replaceFileWithText (file, root.toString());
}
