// The "Editor Setup" dialog: how pictures are handed to the image editor (the desktop's
// open action or a command line) and whether every new picture is edited automatically.
// UI thread only; RunEditorSetupDialog blocks in the modal dialog.
#pragma once

#include <string>

class QWidget;
class QDialog;

struct EditorSetupValues {
    std::string command;      // `LaunchEditorCmd`
    bool shellExecute = true; // `ShellExecute`
    bool autoEdit = false;    // `AutoEdit`
};

// Builds the dialog with the values (tests drive it without running it).
QDialog* MakeEditorSetupDialog(QWidget* parent, EditorSetupValues& values);
// Shows the dialog; on OK the values are updated and true returned.
bool RunEditorSetupDialog(QWidget* parent, EditorSetupValues& values);
