// Marks a request in progress for the length of a handler: the window
// refuses other request actions, and keeps the device, port and link
// controls still, until it ends.
#pragma once

#include <QMetaObject>

#include "app/Unit1.h"
#include "app/escape_key.h"

class TForm1::RequestScope {
public:
    explicit RequestScope(TForm1 &form) : form_(form) {
        form_.busy_ = true;
        form_.SetRequestControlsEnabled(false);
    }
    ~RequestScope() {
        // A close asked for during the request happens now.
        form_.busy_ = false;
        form_.SetRequestControlsEnabled(true);
        form_.ClearRate();
        if (form_.closePending_) {
            SetAbortRequested(false);
            QMetaObject::invokeMethod(&form_, &QWidget::close, Qt::QueuedConnection);
        }
    }
    RequestScope(const RequestScope &) = delete;
    RequestScope &operator=(const RequestScope &) = delete;

private:
    TForm1 &form_;
};
