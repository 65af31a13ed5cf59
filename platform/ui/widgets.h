// The Qt widgets that stand behind each kind of window. Internal to the layer.
#pragma once

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QWidget>

#include "platform/ui/list_view.h"
#include "platform/ui/window_impl.h"

class DialogWidget : public QWidget {
public:
    explicit DialogWidget(HWND hWnd) : m_hWnd(hWnd) {}

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    HWND m_hWnd;
};

// An automatic radio button: a click checks it and clears the other automatic radio buttons of
// its group (the run of controls between two group marks), never toggles it off.
class AutoRadioButton : public QRadioButton {
public:
    AutoRadioButton(HWND hWnd, QWidget* parent) : QRadioButton(parent), m_hWnd(hWnd) { setAutoExclusive(false); }

protected:
    void nextCheckState() override;

private:
    HWND m_hWnd;
};

// Static text paints the text its window's record holds (see HWND__::text), so a status line
// updated for every entry of a scan costs one repaint per paint, not one per entry.
class StaticTextWidget : public QWidget {
public:
    StaticTextWidget(HWND hWnd, DWORD style, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    HWND m_hWnd;
    DWORD m_style;
};

// A group box drawn as the platform draws one: an etched frame whose top line runs through the
// middle of the title.
class GroupBoxWidget : public QWidget {
public:
    GroupBoxWidget(QString title, QWidget* parent) : QWidget(parent), m_title(std::move(title)) {}
    void SetTitle(QString title) {
        m_title = std::move(title);
        update();
    }
    const QString& Title() const { return m_title; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_title;
};

class BitmapWidget : public QWidget {
public:
    using QWidget::QWidget;
    void SetImage(const QImage* image);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
};

class ListModel : public QAbstractTableModel {
public:
    struct Column {
        std::u16string text;
        int format = 0;
        int width = 0;
    };
    struct Row {
        std::vector<std::u16string> texts;
        LPARAM data = 0;
    };

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    int InsertColumn(int index, Column column);
    int InsertRow(int index, std::u16string text, LPARAM data);
    bool SetText(int row, int subItem, std::u16string text);
    void DeleteRow(int row);
    void DeleteAll();
    void Sort(PFNLVCOMPARE compare, LPARAM sortData);

    std::vector<Column> columns;
    std::vector<Row> rows;
};

class ListViewWidget : public QTableView {
public:
    ListViewWidget(HWND hWnd, QWidget* parent);
    ListModel model;
    void ApplyExtendedStyle(DWORD style);

private:
    HWND m_hWnd;
};
