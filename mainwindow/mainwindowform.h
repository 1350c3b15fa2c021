#ifndef MAINWINDOWFORM_H
#define MAINWINDOWFORM_H

class QCheckBox;
class QComboBox;
class QLabel;
class QMainWindow;
class QMenuBar;
class QPushButton;
class QStatusBar;
class QToolBar;
class QWidget;

// Builds the main window's widget tree at fixed pixel positions and keeps
// non-owning pointers to every widget; the window's parent chain owns them.
class MainWindowForm
{
public:
    QWidget *centralWidget;
    QComboBox *port_box;
    QPushButton *scan_btn;
    QCheckBox *checkBox_1;
    QCheckBox *checkBox_2;
    QCheckBox *checkBox_3;
    QCheckBox *checkBox_4;
    QCheckBox *checkBox_5;
    QLabel *label;
    QLabel *label_2;
    QLabel *label_3;
    QLabel *label_4;
    QLabel *label_5;
    QLabel *label_6;
    QLabel *label_7;
    QLabel *label_8;
    QLabel *label_9;
    QLabel *label_10;
    QLabel *label_11;
    QLabel *label_12;
    QLabel *l6;
    QLabel *l7;
    QLabel *l8;
    QLabel *l9;
    QLabel *l10;
    QMenuBar *menuBar;
    QToolBar *mainToolBar;
    QStatusBar *statusBar;

    void setupUi(QMainWindow *window);
    void retranslateUi(QMainWindow *window);
};

#endif // MAINWINDOWFORM_H
