#include "ui/Layouts.h"

#include <QBoxLayout>

namespace {

template <typename Layout> Layout* bare(QWidget* owner, int spacing)
{
    auto* layout = new Layout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

} // namespace

QVBoxLayout* columnLayout(QWidget* owner, int spacing)
{
    return bare<QVBoxLayout>(owner, spacing);
}

QHBoxLayout* rowLayout(QWidget* owner, int spacing)
{
    return bare<QHBoxLayout>(owner, spacing);
}
