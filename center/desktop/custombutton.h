#pragma once

#include <QPushButton>

class QLabel;
class QVBoxLayout;

// Icon-over-caption button of the toolbox.
class customButton : public QPushButton
{
    Q_OBJECT
public:
    customButton(QString text, QString iconPath, QWidget *parent = nullptr);

private:
    QLabel *m_icon = nullptr;
    QLabel *m_caption = nullptr;
    QString m_text;
    QString m_iconPath;
    QVBoxLayout *m_layout = nullptr;
};
