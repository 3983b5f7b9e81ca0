#pragma once

#include <QGroupBox>

class QButtonGroup;
class QRadioButton;

// A framed group of radio buttons laid out in columns, one of which is
// chosen; the choice is an index into its items.
class RadioGroup : public QGroupBox
{
    Q_OBJECT
public:
    RadioGroup(const QString &caption, const QStringList &items, int columns,
               QWidget *parent = nullptr);

    int itemIndex() const;
    void setItemIndex(int index);
    QRadioButton *button(int index) const;
    // Puts the focus on the chosen button, as Tab does on entering the group.
    void focusChosen();

signals:
    void itemIndexChanged(int index);

private:
    QButtonGroup *m_buttons;
};
