/* early.js -- runs first, while the page loads.
   The access token leaves the address bar and the history once the
   server has set its cookie; and what the first view needs is asked for
   at once: the herds page's two lists, or the chart library for the
   views that draw charts (app.js loads it only when a chart is drawn). */
if (new URLSearchParams(location.search).has('token')) {
  history.replaceState(null, '', location.pathname + location.hash);
}
window.EARLY = {};
(function () {
  var view = (location.hash.slice(1) || 'herds').split('/')[0];
  if (view === 'herds') {
    EARLY['/api/herds'] = fetch('/api/herds');
    EARLY['/api/examples'] = fetch('/api/examples');
  } else if (view === 'results' || view === 'compare' || view === 'sweeps') {
    var link = document.createElement('link');
    link.rel = 'preload';
    link.as = 'script';
    link.href = '/vendor/uPlot.iife.min.js';
    document.head.appendChild(link);
  }
})();
