#pragma once

#include <QWidget>

class QLabel;
class QVBoxLayout;

// One-line toast: shows a text at a given position for one second.
class MessageDialog : public QWidget
{
    Q_OBJECT
public:
    explicit MessageDialog(QWidget *parent = nullptr);
    ~MessageDialog() override;

    static MessageDialog *getMessage();

    void hideDialog();
    void fitResolution();
    // Sets the text and sizes the toast for it, without showing it: its
    // position may depend on that size.
    void fitText(const QString &text);
    // Shows the toast as sized, its top-left corner at (x, y), for a second.
    void showAt(double x, double y);

public slots:
    void showDialog(QString text, double x, double y);

private:
    QLabel *m_label = nullptr;
    QVBoxLayout *m_layout = nullptr;
    static MessageDialog *s_instance;
};
