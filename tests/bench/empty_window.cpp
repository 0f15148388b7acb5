// One empty 512 x 154 window, linked like the bundle's executable.
#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>

int main()
{
    Fl::visual(FL_DOUBLE);
    Fl_Double_Window window(Fl::w() / 2 - 256, Fl::h() / 2 - 154, 512, 154, "");
    window.end();
    window.show();
    return Fl::run();
}
