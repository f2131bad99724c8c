// The headers most sources with widgets read, precompiled once for a group of targets.
#include "Core.h"

#include <QAction>
#include <QApplication>
#include <QColor>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QTreeWidget>
#include <QWidget>
