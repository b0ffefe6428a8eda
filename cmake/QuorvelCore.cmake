# The plug-in and its shared code. juce_add_plugin makes "Quorvel" a static
# library that holds the JUCE modules and all of our code; the VST3 bundle, the
# standalone app, the tests, the benchmarks and the tools all link that one
# library, so the modules are compiled once per build.

juce_add_plugin(Quorvel
    COMPANY_NAME "Pellwick"
    PRODUCT_NAME "Quorvel"
    VERSION 0.2.1
    BUNDLE_ID com.pellwick.quorvel
    PLUGIN_MANUFACTURER_CODE Pelw
    PLUGIN_CODE Qrvl
    FORMATS VST3 Standalone
    IS_SYNTH TRUE
    NEEDS_MIDI_INPUT TRUE
    NEEDS_MIDI_OUTPUT TRUE
    # The processor answers isMidiEffect itself; the build flag would strip the
    # VST3's audio output bus.
    IS_MIDI_EFFECT FALSE
    EDITOR_WANTS_KEYBOARD_FOCUS TRUE
    VST3_CATEGORIES Instrument Synth
    COPY_PLUGIN_AFTER_BUILD FALSE)

set(QUORVEL_SOURCES
    engine/KeySequence.cpp
    engine/Timeline.cpp
    engine/ProcessorShell.cpp
    engine/ProcessorQueries.cpp
    engine/BlockLoop.cpp
    engine/OutputPairing.cpp
    engine/Voices.cpp
    engine/Triggering.cpp
    engine/Timing.cpp
    engine/Layers.cpp
    engine/Shaping.cpp
    engine/Modifiers.cpp
    engine/AudioKeys.cpp
    engine/StretchProcessor.cpp
    engine/AudioLink.cpp
    engine/AudioLinkHub.cpp
    recording/Capture.cpp
    recording/StepRecord.cpp
    recording/Undo.cpp
    recording/KeyEdits.cpp
    persistence/DataFolders.cpp
    persistence/StateDocument.cpp
    persistence/Presets.cpp
    persistence/UserSettings.cpp
    exchange/ClipImport.cpp
    exchange/ClipExport.cpp
    exchange/PromisedFileDrop.cpp
    exchange/ExternalMidiDrop.cpp
    ui/toolkit/Theme.cpp
    ui/toolkit/FilmstripSlider.cpp
    ui/toolkit/DropdownMenu.cpp
    ui/toolkit/FigmaRenderer.cpp
    ui/toolkit/FigmaElement.cpp
    ui/keyboard/KeyLayout.cpp
    ui/keyboard/QuorvelKeyboard.cpp
    ui/keyboard/KeyboardInput.cpp
    ui/keyboard/Overlays.cpp
    editor/PluginEditor.cpp)

target_sources(Quorvel PRIVATE ${QUORVEL_SOURCES})
if(APPLE)
    # The only code that needs AppKit.
    target_sources(Quorvel PRIVATE platform/mac/ExternalMidiDrop.mm)
endif()
target_include_directories(Quorvel PUBLIC "${CMAKE_SOURCE_DIR}")

target_compile_definitions(Quorvel PUBLIC
    JUCE_WEB_BROWSER=0
    JUCE_USE_CURL=0
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_VST3_CAN_REPLACE_VST2=0
    # Pedals, mod wheel and aftertouch from a VST3 host reach processBlock.
    JUCE_VST3_EMULATE_MIDI_CC_WITH_PARAMETERS=1
    JUCE_INCLUDE_FLAC_CODE=0
    JUCE_INCLUDE_OGGVORBIS_CODE=0
    JUCE_INCLUDE_PNGLIB_CODE=0
    JUCE_INCLUDE_JPEGLIB_CODE=0
    JUCE_INCLUDE_ZLIB_CODE=0
    JUCE_USE_FLAC=1
    JUCE_USE_OGGVORBIS=0
    JUCE_MODAL_LOOPS_PERMITTED=0)

# The editor's embedded resources: layout and theme documents and art from
# resources/ui, and the fonts scripts/fonts.sh put into the build folder (they
# are not in the repository; a missing font is simply not embedded).
file(GLOB QUORVEL_UI_RESOURCES CONFIGURE_DEPENDS
    "${CMAKE_SOURCE_DIR}/resources/ui/*.json"
    "${CMAKE_SOURCE_DIR}/resources/ui/*.svg"
    "${CMAKE_SOURCE_DIR}/resources/ui/*.png"
    "${CMAKE_BINARY_DIR}/fonts/*.ttf")
juce_add_binary_data(UIBinaryData
    HEADER_NAME UIBinaryData.h
    NAMESPACE UIBinaryData
    SOURCES ${QUORVEL_UI_RESOURCES})
set_target_properties(UIBinaryData PROPERTIES POSITION_INDEPENDENT_CODE ON)
# JUCE regenerates binary data only when the list of files changes; an edited
# layout or picture must rebuild it too.
add_custom_command(OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/juce_binarydata_UIBinaryData/JuceLibraryCode/BinaryData1.cpp"
    APPEND DEPENDS ${QUORVEL_UI_RESOURCES})

target_link_libraries(Quorvel
    PRIVATE
        juce::juce_audio_utils
        juce::juce_dsp
    PUBLIC
        UIBinaryData
        PkgConfig::QUORVEL_SYSTEM_LIBS
        PkgConfig::QUORVEL_RUBBERBAND
        juce::juce_recommended_config_flags
        juce::juce_recommended_warning_flags)

# GCC 12 reports false dangling-pointer warnings inside JUCE's headers.
target_compile_options(Quorvel PUBLIC
    $<$<CXX_COMPILER_ID:GNU>:-Wno-dangling-pointer>)

set_target_properties(Quorvel PROPERTIES POSITION_INDEPENDENT_CODE ON)

# Gives a test, benchmark or tool program the shared code with the same JUCE
# configuration the plug-in was built with.
function(quorvel_use_core target)
    target_link_libraries(${target} PRIVATE Quorvel juce::pkgconfig_JUCE_IMG_LINUX_DEPS)
    target_include_directories(${target} PRIVATE $<TARGET_PROPERTY:Quorvel,INCLUDE_DIRECTORIES>)
    target_compile_definitions(${target} PRIVATE $<TARGET_PROPERTY:Quorvel,COMPILE_DEFINITIONS>)
endfunction()
