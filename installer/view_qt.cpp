// The Qt view of the installer window.
