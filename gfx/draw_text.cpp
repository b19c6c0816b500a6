// TutorApp::drawText: one line of text into the window's back buffer. Kept apart from the
// text images so that they can be used without the window.
#include "app/app_window.h"
#include "gfx/text_image.h"
#include "tutor/tutor_app.h"

void TutorApp::drawText(const char* text, int32_t x, int32_t y, bool large) {
    if (!text || !appWindow.backBuffer) return;
    if (large)
        drawTextLine(*appWindow.backBuffer, text, x, y, largeLetters, 30, numbers);
    else
        drawTextLine(*appWindow.backBuffer, text, x, y, smallLetters, 15, numbers);
}
