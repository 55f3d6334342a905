// Checks what the launcher promises and writes each result into the page, so that a person sees
// it and a headless browser's DOM dump carries it: the script ran, the style sheet applied, the
// image loaded (with its natural size), the navigation file's wa_base names this run's address,
// and the launcher's start text arrived as ?show=.
(function () {
  'use strict';

  function report(id, ok, text, data) {
    var item = document.getElementById(id);
    item.textContent = text;
    item.setAttribute('data-ok', ok ? 'yes' : 'no');
    Object.keys(data || {}).forEach(function (key) { item.setAttribute('data-' + key, data[key]); });
    return ok;
  }

  // This run's address: the origin and the first path segment (the course's prefix).
  var session = location.origin + '/' + location.pathname.split('/')[1] + '/';

  // The launcher passes its start text as the query parameter "show", encoded whole.
  function startText() {
    return new URLSearchParams(location.search).get('show') || '';
  }

  var results = [];
  results.push(report('check-script', true, 'script: ran', { session: session }));
  var styled = getComputedStyle(document.documentElement).getPropertyValue('--demo-style').trim();
  results.push(report('check-style', styled === 'loaded', 'style sheet: ' +
      (styled === 'loaded' ? 'applied' : 'not applied')));
  var show = startText();
  results.push(report('check-show', show !== '', 'start text: ' + (show || '(none)'), { text: show }));

  var image = document.getElementById('logo');
  var imageDone = new Promise(function (resolve) {
    if (image.complete) { resolve(); return; }
    image.addEventListener('load', resolve);
    image.addEventListener('error', resolve);
  }).then(function () {
    var w = image.naturalWidth, h = image.naturalHeight;
    return report('check-image', w > 0 && h > 0, 'image: ' + (w > 0 ? 'loaded, ' + w + 'x' + h : 'failed'),
        { width: w, height: h });
  });

  var navigationDone = fetch('course.kxv').then(function (response) {
    if (!response.ok) throw new Error('HTTP ' + response.status);
    return response.text();
  }).then(function (text) {
    var match = /'wa_base':'([^']*)'/.exec(text);
    var base = match ? match[1] : '';
    return report('check-navigation', base === session, 'navigation file: wa_base is ' +
        (base || '(missing)') + (base === session ? ', this run\'s address' : ', expected ' + session),
        { base: base });
  }).catch(function (error) {
    return report('check-navigation', false, 'navigation file: ' + error.message);
  });

  Promise.all([imageDone, navigationDone]).then(function (later) {
    var all = results.concat(later).every(Boolean);
    var verdict = document.getElementById('verdict');
    verdict.textContent = all ? 'all checks passed' : 'some checks failed';
    verdict.setAttribute('data-ok', all ? 'yes' : 'no');
  });
})();
