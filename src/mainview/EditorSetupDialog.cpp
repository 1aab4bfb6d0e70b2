#include "mainview/EditorSetupDialog.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <memory>

QDialog* MakeEditorSetupDialog(QWidget* parent, EditorSetupValues& values)
{
    auto* dialog = new QDialog(parent);
    dialog->setWindowTitle("Editor Setup");
    auto* layout = new QVBoxLayout(dialog);
#ifdef _WIN32
    auto* useOpen = new QRadioButton("Use the Windows Explorer 'Open' command", dialog);
#else
    auto* useOpen = new QRadioButton("Use the desktop's 'Open' command", dialog);
#endif
    useOpen->setObjectName("1049");
    auto* useCommand = new QRadioButton("Use the command line below:", dialog);
    useCommand->setObjectName("1050");
    auto* command = new QLineEdit(QString::fromStdString(values.command), dialog);
    command->setObjectName("1052");
    auto* browse = new QPushButton("...", dialog);
    browse->setObjectName("1003");
    auto* autoEdit = new QCheckBox("Automatically edit the image when a photo is taken", dialog);
    autoEdit->setObjectName("1051");
    autoEdit->setChecked(values.autoEdit);
    layout->addWidget(useOpen);
    layout->addWidget(useCommand);
    auto* row = new QHBoxLayout;
    row->addWidget(command, 1);
    row->addWidget(browse);
    layout->addLayout(row);
    layout->addWidget(autoEdit);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    layout->addWidget(buttons);

    auto shell = std::make_shared<bool>(values.shellExecute);
    auto sync = [=] {
        useOpen->setChecked(*shell);
        useCommand->setChecked(!*shell);
        command->setEnabled(!*shell);
        browse->setEnabled(!*shell);
    };
    sync();
    QObject::connect(useOpen, &QRadioButton::clicked, dialog, [=] { *shell = true; sync(); });
    QObject::connect(useCommand, &QRadioButton::clicked, dialog, [=] { *shell = false; sync(); });
    QObject::connect(browse, &QPushButton::clicked, dialog, [=] {
        const QString file = QFileDialog::getOpenFileName(dialog, "Choose the editor", QString(),
                                                          "Programs (*);;All Files (*)");
        if (!file.isEmpty())
            command->setText(file);
    });
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, [=, &values] {
        values.shellExecute = *shell;
        values.command = command->text().toStdString();
        values.autoEdit = autoEdit->isChecked();
        dialog->accept();
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return dialog;
}

bool RunEditorSetupDialog(QWidget* parent, EditorSetupValues& values)
{
    std::unique_ptr<QDialog> dialog(MakeEditorSetupDialog(parent, values));
    return dialog->exec() == QDialog::Accepted;
}
