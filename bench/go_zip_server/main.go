// A zip server as a Go user would write one with the standard library: archive/zip finds the
// entry, http.ServeContent answers it (ranges included). Stored entries are served from their
// place in the archive through an io.SectionReader; deflated ones are inflated into memory for
// each request, since a deflate stream cannot seek. Run with GOMAXPROCS=1 for one thread.
//
//	go_zip_server ARCHIVE PORT
package main

import (
	"archive/zip"
	"bytes"
	"io"
	"log"
	"net/http"
	"os"
	"strings"
	"time"
)

func main() {
	archive, err := os.Open(os.Args[1])
	if err != nil {
		log.Fatal(err)
	}
	info, err := archive.Stat()
	if err != nil {
		log.Fatal(err)
	}
	reader, err := zip.NewReader(archive, info.Size())
	if err != nil {
		log.Fatal(err)
	}
	entries := map[string]*zip.File{}
	for _, f := range reader.File {
		entries[f.Name] = f
	}
	http.HandleFunc("/", func(w http.ResponseWriter, r *http.Request) {
		f, ok := entries[strings.TrimPrefix(r.URL.Path, "/")]
		if !ok {
			http.NotFound(w, r)
			return
		}
		var content io.ReadSeeker
		if f.Method == zip.Store {
			offset, err := f.DataOffset()
			if err != nil {
				http.Error(w, err.Error(), http.StatusInternalServerError)
				return
			}
			content = io.NewSectionReader(archive, offset, int64(f.UncompressedSize64))
		} else {
			rc, err := f.Open()
			if err != nil {
				http.Error(w, err.Error(), http.StatusInternalServerError)
				return
			}
			data, err := io.ReadAll(rc)
			rc.Close()
			if err != nil {
				http.Error(w, err.Error(), http.StatusInternalServerError)
				return
			}
			content = bytes.NewReader(data)
		}
		http.ServeContent(w, r, f.Name, f.Modified.In(time.UTC), content)
	})
	log.Fatal(http.ListenAndServe("127.0.0.1:"+os.Args[2], nil))
}
