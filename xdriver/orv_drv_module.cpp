// The X driver module orv_drv: the front end with the driver core and the
// hardware library in one shared object the X server loads. Only the module
// record and the extension list are exported (orv_drv.map); the server's
// services stay undefined in it and resolve from the server.
