#pragma once
// What tests may read of the window's presenter: the session under it, for
// the session's own inspection. The window itself goes through the verbs.

#include "ui/presenter.h"

class TPresenterInspection {
public:
    explicit TPresenterInspection(const TWindowPresenter& presenter) : presenter_(presenter) {}

    const TChatSession& session() const { return presenter_.session_; }

private:
    const TWindowPresenter& presenter_;
};
