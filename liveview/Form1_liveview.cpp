// The window's side of the live view: opening the one live view window.

#include "app/Form1.h"
#include "liveview/LiveViewWindow.h"

LiveViewWindow* Form1::LiveView() const { return liveView_; }

void Form1::ShowLiveView()
{
    if (!liveView_)
        liveView_ = new LiveViewWindow(this);
    liveView_->show();
    liveView_->raise();
    liveView_->activateWindow();
}

void Form1::OpenDataFile()
{
    ShowLiveView();
    liveView_->OpenClicked();
}
